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
    const char* title;     // a few words
    const char* sentence;  // what we saw, for a person
    const char* remedy;    // what to do about it
};

// Raised by the current definitions; stored results ranked under an older version are
// re-checked when the service starts.
inline constexpr std::int64_t kChecksVersion = 1;

// Every check the service knows, in the order a page lists them.
const std::vector<ResultCheck>& allResultChecks();

// The checks this result raises, in the order of allResultChecks(); empty when clean.
std::vector<const ResultCheck*> checksOf(const SystemInventory& inventory);

// True when the OpenGL renderer or vendor names a software rasteriser.
bool namesSoftwareRenderer(const std::string& text);
