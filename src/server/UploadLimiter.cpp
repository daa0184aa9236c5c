#include "server/UploadLimiter.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstring>

namespace {

// Above this many addresses, those whose bucket has filled up again are forgotten.
constexpr std::size_t RememberedAddresses = 10000;

} // namespace

std::string SenderKey(const std::string& address) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1)
        return address;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        char v4[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &v6.s6_addr[12], v4, sizeof v4);
        return v4;
    }
    std::memset(&v6.s6_addr[8], 0, 8);
    char network[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &v6, network, sizeof network);
    return std::string(network) + "/64";
}

TUploadLimiter::TUploadLimiter(int uploadsPerMinute) : perMinute_(std::max(1, uploadsPerMinute)) {}

TUploadLimiter::TBucket& TUploadLimiter::Refilled(const std::string& address,
                                                  TClock::time_point now) {
    auto [it, added] = buckets_.try_emplace(address, TBucket{perMinute_, now});
    TBucket& bucket = it->second;
    if (!added) {
        const double minutes = std::chrono::duration<double>(now - bucket.Updated).count() / 60;
        bucket.Tokens = std::min(perMinute_, bucket.Tokens + std::max(0.0, minutes) * perMinute_);
        bucket.Updated = now;
    }
    return bucket;
}

void TUploadLimiter::ForgetFull(TClock::time_point now) {
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        const double minutes = std::chrono::duration<double>(now - it->second.Updated).count() / 60;
        if (it->second.Tokens + minutes * perMinute_ >= perMinute_)
            it = buckets_.erase(it);
        else
            ++it;
    }
}

bool TUploadLimiter::Allow(const std::string& address, TClock::time_point now) {
    std::lock_guard lock(mutex_);
    if (buckets_.size() > RememberedAddresses)
        ForgetFull(now);
    TBucket& bucket = Refilled(SenderKey(address), now);
    if (bucket.Tokens < 1)
        return false;
    bucket.Tokens -= 1;
    return true;
}

int TUploadLimiter::SecondsToWait(const std::string& address, TClock::time_point now) {
    std::lock_guard lock(mutex_);
    const TBucket& bucket = Refilled(SenderKey(address), now);
    const double seconds = (1 - bucket.Tokens) * 60 / perMinute_;
    return std::max(1, static_cast<int>(std::ceil(seconds)));
}
