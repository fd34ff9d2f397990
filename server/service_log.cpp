#include "server/service_log.h"

#include <cstdio>
#include <ctime>

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

std::string oneLine(const std::string& text, std::size_t limit) {
    std::string out;
    for (unsigned char c : text.substr(0, limit)) out += (c < 0x20 || c == 0x7F) ? '?' : char(c);
    if (text.size() > limit) out += "...";
    return out;
}

void logLine(const std::string& line) {
    const std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}
