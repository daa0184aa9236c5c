// The per-address limit on uploads: a bucket of tokens per sender address, refilled evenly,
// so that a burst of a full minute's allowance passes and a steady flood does not.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

// Who a sender is for the limits of the server: an IPv4 address, or the /64 network of an IPv6
// address (one subscriber usually has a whole one); an address that is neither as it is.
std::string SenderKey(const std::string& address);

class TUploadLimiter {
public:
    using TClock = std::chrono::steady_clock;
    explicit TUploadLimiter(int uploadsPerMinute);
    // Takes a token of the address's sender at that moment: false when it has none left.
    bool Allow(const std::string& address, TClock::time_point now = TClock::now());
    // Seconds until the address has a token again (at least 1).
    int SecondsToWait(const std::string& address, TClock::time_point now = TClock::now());

private:
    struct TBucket {
        double Tokens;
        TClock::time_point Updated;
    };
    TBucket& Refilled(const std::string& address, TClock::time_point now);
    void ForgetFull(TClock::time_point now);

    double perMinute_;
    std::mutex mutex_;
    std::unordered_map<std::string, TBucket> buckets_;
};
