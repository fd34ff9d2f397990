#pragma once
// What the service cannot vouch for in a result, computed from the stored document alone:
// every result is checked when it is shown, old ones included, and the signed document
// stays as it was sent. A result with any check stays stored and visible but does not
// count in the standings of other results.

#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"

struct ResultCheck {
    const char* name;      // fixed, for data-check, the API and people who write to us
    std::string title;     // a few words
    std::string sentence;  // what we saw, for a person, with the threshold as below
    std::string remedy;    // what to do about it
};

// The checks' thresholds. The checks test against these, and their sentences and the
// methodology page print these, so a change cannot leave a page saying something else.
// cpu-over-capacity: a score above this times the single-thread score times the threads
// at work.
inline constexpr double kOverCapacityFactor = 1.05;
// cpu-disturbed: a score this many per cent below the best at a smaller thread count.
inline constexpr int kDisturbedDropPercent = 10;
// gpu-too-slow: a scene whose average frame rate is under this.
inline constexpr std::uint64_t kSlowestComparableFps = 5;

// A threshold as the texts write it: "1.05", "0.9".
std::string thresholdText(double value);

// Raised by the current definitions; stored results ranked under an older version are
// re-checked when the service starts.
inline constexpr std::int64_t kChecksVersion = 1;

// Every check the service knows, in the order a page lists them.
const std::vector<ResultCheck>& allResultChecks();

// The checks this result raises, in the order of allResultChecks(); empty when clean.
std::vector<const ResultCheck*> checksOf(const SystemInventory& inventory);

// True when the OpenGL renderer or vendor names a software rasteriser.
bool namesSoftwareRenderer(const std::string& text);
