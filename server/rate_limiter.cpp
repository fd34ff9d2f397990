#include "server/rate_limiter.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "core/text.h"

bool RateLimiter::allow(const std::string& address, Clock::time_point now) {
    if (perMinute_ == 0) return true;
    const double capacity = perMinute_;
    const double perSecond = capacity / 60.0;
    std::lock_guard lock(mutex_);
    forgetIdle(now);
    auto [it, added] = buckets_.try_emplace(address, Bucket{capacity, now});
    Bucket& b = it->second;
    if (!added) {
        const double seconds = std::chrono::duration<double>(now - b.updated).count();
        b.tokens = std::min(capacity, b.tokens + std::max(0.0, seconds) * perSecond);
        b.updated = now;
    }
    if (b.tokens < 1.0) return false;
    b.tokens -= 1.0;
    return true;
}

// A bucket that has refilled completely is the same as no bucket; drop those once a
// minute so the table does not grow with every address ever seen.
void RateLimiter::forgetIdle(Clock::time_point now) {
    if (now - lastSweep_ < std::chrono::minutes(1)) return;
    lastSweep_ = now;
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        if (now - it->second.updated >= std::chrono::minutes(1)) {
            it = buckets_.erase(it);
        } else {
            ++it;
        }
    }
}

std::string canonicalAddress(const std::string& text) {
    char out[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return inet_ntop(AF_INET, &v4, out, sizeof out) ? out : "";
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::memcpy(&v4, &v6.s6_addr[12], 4);
        return inet_ntop(AF_INET, &v4, out, sizeof out) ? out : "";
    }
    return inet_ntop(AF_INET6, &v6, out, sizeof out) ? out : "";
}

std::string rateLimitKey(const std::string& address) {
    const std::string canonical = canonicalAddress(address);
    if (canonical.empty()) return address;
    in6_addr v6{};
    if (inet_pton(AF_INET6, canonical.c_str(), &v6) != 1) return canonical;  // IPv4
    std::memset(&v6.s6_addr[8], 0, 8);
    char out[INET6_ADDRSTRLEN] = {};
    return std::string(inet_ntop(AF_INET6, &v6, out, sizeof out)) + "/64";
}

std::string clientAddress(const std::string& peer, const std::string& forwardedFor,
                          const std::vector<std::string>& trustedProxies) {
    if (forwardedFor.empty()) return peer;
    const std::string canonicalPeer = canonicalAddress(peer);
    if (canonicalPeer.empty() ||
        std::find(trustedProxies.begin(), trustedProxies.end(), canonicalPeer) == trustedProxies.end()) {
        return peer;
    }
    const std::string_view last = trim(std::string_view(forwardedFor).substr(forwardedFor.rfind(',') + 1), " \t");
    if (last.empty()) return peer;
    return std::string(last);
}
