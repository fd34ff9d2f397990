#pragma once
// Command line of tallyforge-results.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ServiceOptions {
    std::string host = "127.0.0.1";
    int port = 8443;  // 0 asks the system for a free port (used by the tests)
    std::string tlsCertFile;
    std::string tlsKeyFile;
    bool plainHttp = false;
    std::string databaseUrl = "sqlite:tallyforge-results.db";
    std::string saltFile;
    std::vector<unsigned char> salt;  // the file's bytes, read while parsing
    unsigned rateLimit = 20;          // submissions a minute per client address; 0: no limit
    std::vector<std::string> trustedProxies;  // canonical addresses whose X-Forwarded-For counts
    unsigned requestTimeoutSeconds = 10;  // to send a request's head, and a submission's body
};

struct CommandLineOutcome {
    std::optional<ServiceOptions> options;  // empty: stop with exitCode after printing message
    int exitCode = 0;
    std::string message;  // for stdout (help) or stderr (errors)
};

inline constexpr std::size_t kSaltSize = 1024;

std::string usageText();

// Parses the arguments and reads the salt file. Bad options and unreadable files give
// exit code 2 with a sentence naming the problem; --help and --version give exit code 0
// and the text to print.
CommandLineOutcome parseCommandLine(const std::vector<std::string>& args);
