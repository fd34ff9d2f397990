#include "server/rate_limiter.h"

#include <algorithm>

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

std::string clientAddress(const std::string& peer, const std::string& forwardedFor,
                          bool behindProxy) {
    if (!behindProxy || forwardedFor.empty()) return peer;
    const std::string_view last = trim(std::string_view(forwardedFor).substr(forwardedFor.rfind(',') + 1), " \t");
    if (last.empty()) return peer;
    return std::string(last);
}
