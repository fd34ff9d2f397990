#pragma once
// Submissions a minute per client address, as a token bucket: a client may send a burst
// of the whole minute's allowance, then one more each 60/N seconds.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    explicit RateLimiter(unsigned perMinute) : perMinute_(perMinute) {}

    // True if the address may submit now; counts the attempt.
    bool allow(const std::string& address, Clock::time_point now = Clock::now());

private:
    struct Bucket {
        double tokens;
        Clock::time_point updated;
    };
    void forgetIdle(Clock::time_point now);

    unsigned perMinute_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    Clock::time_point lastSweep_{};
};

// The address a request counts against: the peer, or behind a reverse proxy the last
// X-Forwarded-For entry, which is the one the proxy itself wrote (earlier entries come
// from the client and prove nothing).
std::string clientAddress(const std::string& peer, const std::string& forwardedFor,
                          bool behindProxy);
