#include "server/ResponseCache.h"

#include <algorithm>

std::optional<THttpResponse> TResponseCache::Find(const std::string& key, std::uint64_t generation,
                                                  TClock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end() || it->second.Generation != generation ||
        now - it->second.Made > MaxAge)
        return std::nullopt;
    return it->second.Response;
}

void TResponseCache::Forget(const std::string& key) {
    const auto it = entries_.find(key);
    if (it == entries_.end())
        return;
    bytes_ -= it->second.Response.Body.size() + key.size();
    entries_.erase(it);
}

void TResponseCache::Put(const std::string& key, std::uint64_t generation,
                         const THttpResponse& response, TClock::time_point now) {
    const std::size_t size = response.Body.size() + key.size();
    if (size > MaxBytes / 16)
        return;
    std::lock_guard lock(mutex_);
    // Every key is once in the eviction order: a replaced entry keeps its place.
    const bool known = entries_.count(key) != 0;
    Forget(key);
    while (bytes_ + size > MaxBytes && !order_.empty()) {
        if (order_.front() != key)
            Forget(order_.front());
        order_.pop_front();
    }
    entries_[key] = {response, generation, now};
    if (!known || order_.empty() || std::find(order_.begin(), order_.end(), key) == order_.end())
        order_.push_back(key);
    bytes_ += size;
}
