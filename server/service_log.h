#pragma once
// The service's log on standard error: one line per event, written in one piece.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

// Now, as "2026-03-05T14:07:59Z".
std::string timestamp();

// Paths and details are echoed into the log; this keeps them on one line (control
// characters become '?') and at most limit bytes long.
std::string oneLine(const std::string& text, std::size_t limit = 200);

// Writes the line and a newline with one write, so lines never interleave.
void logLine(const std::string& line);

// The requests in flight, from routing to the log line the HTTP layer asks for once the
// answer is written: when each began and what its handler said of it. Kept per request
// object, so it holds whichever thread the library runs the request on.
class RequestLog {
public:
    void begin(const httplib::Request& request);
    // Adds what the log line should say besides the request itself (why it was refused);
    // an empty detail adds nothing.
    void note(const httplib::Request& request, std::string detail);
    // The request's line, "<time> <method> <path> <status> <duration> <address> (<detail>)";
    // the request is forgotten.
    std::string finish(const httplib::Request& request, const httplib::Response& response);

private:
    struct Entry {
        std::chrono::steady_clock::time_point start;
        std::string detail;
    };
    std::mutex mutex_;
    // A request whose answer could not be written never reaches finish(); its entry stays
    // until the next request parsed into the same object begins, which replaces it.
    std::unordered_map<const httplib::Request*, Entry> entries_;
};
