#include "server/service_log.h"

#include <httplib.h>

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

void RequestLog::begin(const httplib::Request& request) {
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_[&request] = Entry{std::chrono::steady_clock::now(), {}};
}

void RequestLog::note(const httplib::Request& request, std::string detail) {
    if (detail.empty()) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_[&request].detail = std::move(detail);
}

std::string RequestLog::finish(const httplib::Request& request, const httplib::Response& response) {
    Entry entry;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = entries_.find(&request);
        if (found != entries_.end()) {
            entry = std::move(found->second);
            entries_.erase(found);
        }
    }
    // Requests the library refused before routing have no start.
    std::string duration = "-";
    if (entry.start != std::chrono::steady_clock::time_point{}) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - entry.start).count();
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.2fms", ms);
        duration = buffer;
    }
    const auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    std::string line = timestamp() + " " + orDash(oneLine(request.method, 16)) + " " + orDash(oneLine(request.path)) +
                       " " + std::to_string(response.status) + " " + duration + " " + request.remote_addr;
    if (!entry.detail.empty()) line += " (" + oneLine(entry.detail) + ")";
    return line;
}
