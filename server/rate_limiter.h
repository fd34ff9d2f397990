#pragma once
// Submissions a minute per client address, as a token bucket: a client may send a burst
// of the whole minute's allowance, then one more each 60/N seconds.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

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

// The address in one canonical text form ("::ffff:192.0.2.1" becomes "192.0.2.1"), or
// empty when the text is not an IPv4 or IPv6 address.
std::string canonicalAddress(const std::string& text);

// What a client is counted as: an IPv4 address as it is, an IPv6 address by its /64
// network ("2001:db8:1:2::/64"), since one subscriber commonly holds a whole /64.
// Text that is no address counts as itself.
std::string rateLimitKey(const std::string& address);

// The address a request comes from: the peer, or, where the peer is one of the trusted
// proxies, the last X-Forwarded-For entry, which that proxy itself wrote (earlier entries
// come from the client and prove nothing). From anyone else the header is ignored.
std::string clientAddress(const std::string& peer, const std::string& forwardedFor,
                          const std::vector<std::string>& trustedProxies);
