#pragma once
// Checking one submitted result: size, content type, strict shape, limits and digest.
// Pure functions of their inputs, so the fuzzer and the tests can drive them directly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/protocol.h"
#include "core/records.h"

inline constexpr std::size_t kMaxBodyBytes = 64 * 1024;
inline constexpr std::size_t kMaxStringBytes = 512;
inline constexpr std::size_t kMaxCpuResults = 11;
inline constexpr std::size_t kMaxGpuResults = 4;
inline constexpr std::size_t kMaxVideoControllers = 16;

// Figures the pages rank results by. Empty where the result has no such figure.
struct RankFigures {
    static constexpr std::size_t kCount = kRankFigureCount;
    // indexed by RankFigure
    std::array<std::optional<std::int64_t>, kCount> values;
};

RankFigures rankFiguresOf(const StageResults& score);

// What the submitter is told, and for the log why.
namespace refusal {
inline constexpr const char* kTooLarge = "This benchmark result is too large to be accepted.";
inline constexpr const char* kWrongContentType = "This benchmark result must be sent as JSON.";
inline constexpr const char* kNotJson = "This benchmark result could not be read.";
inline constexpr const char* kWrongShape = "This benchmark result is not in the expected format.";
inline constexpr const char* kNotVerified = "This benchmark result could not be verified.";
inline constexpr const char* kRateLimited =
    "Too many results were sent from your address, please try again in a minute.";
inline constexpr const char* kNotStored =
    "The result could not be stored just now, please try again later.";
// A request other than a submission while the database cannot be reached.
inline constexpr const char* kUnavailable =
    "The results cannot be reached just now, please try again in a few seconds.";
}  // namespace refusal

struct SubmissionCheck {
    int status = 0;         // 0 when accepted, else the HTTP status of the refusal
    std::string sentence;   // refusal sentence for the person at the benchmark
    std::string detail;     // the technical reason, for the log
    // Set when accepted:
    std::string digest;
    SystemInventory inventory;
    RankFigures figures;
};

bool isJsonContentType(std::string_view contentType);

// Runs every check in order; the first one that fails decides the refusal.
SubmissionCheck checkSubmission(std::string_view contentType, std::string_view body,
                                const std::vector<unsigned char>& salt);
