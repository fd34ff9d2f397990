#include "server/format.h"

#include <cmath>
#include <cstdio>
#include <ctime>

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string grouped(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string grouped(std::int64_t value) {
    // The magnitude in unsigned arithmetic, so the smallest int64 has one too.
    return value < 0 ? "-" + grouped(std::uint64_t(0) - std::uint64_t(value)) : grouped(std::uint64_t(value));
}

std::string compactNumber(double value) {
    auto trimmed = [](double x, const char* unit) {
        std::string s = fixed(x, x < 10 && x != std::floor(x) ? 1 : 0);
        if (x >= 10 && x != std::floor(x)) s = fixed(x, 1);
        if (s.size() > 2 && s.substr(s.size() - 2) == ".0") s.resize(s.size() - 2);
        return s + unit;
    };
    if (value >= 1e9) return trimmed(value / 1e9, "G");
    if (value >= 1e6) return trimmed(value / 1e6, "M");
    if (value >= 1e4) return trimmed(value / 1e3, "k");
    return grouped(std::uint64_t(value));
}

namespace {

std::tm utc(std::int64_t ms) {
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return tm;
}

}  // namespace

std::string longDate(std::int64_t ms) {
    const std::tm tm = utc(ms);
    static const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%d %s %d, %02d:%02d UTC", tm.tm_mday, months[tm.tm_mon],
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
    return buffer;
}

std::string shortDate(std::int64_t ms) {
    const std::tm tm = utc(ms);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &tm);
    return buffer;
}

std::string memoryText(std::uint64_t bytes) {
    if (bytes == 0) return "Unknown";
    const double gib = double(bytes) / (1024.0 * 1024.0 * 1024.0);
    if (gib < 1) return fixed(double(bytes) / (1024.0 * 1024.0), 0) + " MiB";
    std::string s = fixed(gib, 1);
    if (s.substr(s.size() - 2) == ".0") s.resize(s.size() - 2);
    return s + " GiB";
}

std::string cacheText(std::uint32_t kb) {
    if (kb >= 1024 && kb % 1024 == 0) return std::to_string(kb / 1024) + " MB";
    if (kb >= 1024) return fixed(kb / 1024.0, 1) + " MB";
    return std::to_string(kb) + " KB";
}
