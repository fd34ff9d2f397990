#pragma once
// Operating-system services, one implementation per platform.

#include <chrono>
#include <string>

// Shows the message in an error box (or on stderr and in a desktop dialog on Linux)
// and ends the process with exit code 1.
[[noreturn]] void fatalError(const std::string& text);

// Opens the address in the user's default browser; false when it could not be handed over.
bool openUrl(const std::string& url);

// Asks for a higher scheduling priority; failure is not an error.
void raiseProcessPriority();

// Sleeps for the duration against a monotonic deadline; false if the wait itself failed.
bool waitPrecise(std::chrono::nanoseconds duration);
