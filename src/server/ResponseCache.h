// Answers of the ranking kept for a few seconds: the ranking changes only when an upload is
// stored, and the first pages are what nearly everyone asks for. An entry is used only while
// no upload has been stored by this server since it was made and it is younger than MaxAge,
// so that several servers on one database see each other's uploads within that time.
#pragma once

#include "server/RequestHandler.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class TResponseCache {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds MaxAge{5};
    static constexpr std::size_t MaxBytes = 32 * 1024 * 1024;

    std::optional<THttpResponse> Find(const std::string& key, std::uint64_t generation,
                                      TClock::time_point now = TClock::now());
    void Put(const std::string& key, std::uint64_t generation, const THttpResponse& response,
             TClock::time_point now = TClock::now());

private:
    struct TEntry {
        THttpResponse Response;
        std::uint64_t Generation;
        TClock::time_point Made;
    };
    void Forget(const std::string& key);

    std::mutex mutex_;
    std::unordered_map<std::string, TEntry> entries_;
    std::deque<std::string> order_; // oldest first, for eviction
    std::size_t bytes_ = 0;
};
