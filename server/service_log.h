#pragma once
// The service's log on standard error: one line per event, written in one piece.

#include <cstddef>
#include <string>

// Now, as "2026-03-05T14:07:59Z".
std::string timestamp();

// Paths and details are echoed into the log; this keeps them on one line (control
// characters become '?') and at most limit bytes long.
std::string oneLine(const std::string& text, std::size_t limit = 200);

// Writes the line and a newline with one write, so lines never interleave.
void logLine(const std::string& line);
