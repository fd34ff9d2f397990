#pragma once
// The integer workload: permutation flipping over 16 elements, counted in flips.

#include "cpu/CpuBenchmark.h"

#include <array>
#include <cstdint>

namespace fannkuch {

inline constexpr int kSize = 16;
using Permutation = std::array<std::uint8_t, kSize>;

// Visits every permutation of 1..16 starting with the identity, by rotating growing
// prefixes; after the last one it is back at the identity with all counters at zero.
struct PermutationGenerator {
    Permutation perm{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::array<std::uint8_t, kSize> counters{};  // indices 1..15 are used

    void next() {
        int i = 1;
        for (;;) {
            const std::uint8_t first = perm[0];
            for (int j = 0; j < i; ++j) perm[j] = perm[j + 1];
            perm[i] = first;
            if (counters[i] < i) {
                ++counters[i];
                return;
            }
            counters[i] = 0;
            if (++i == kSize) return;
        }
    }
};

// Reverses the first work[0] elements until 1 comes to the front; returns how often.
inline std::uint32_t countFlips(const Permutation& perm) {
    Permutation work = perm;
    std::uint32_t flips = 0;
    while (work[0] != 1) {
        int lo = 0;
        int hi = work[0] - 1;
        while (lo < hi) {
            const std::uint8_t t = work[lo];
            work[lo] = work[hi];
            work[hi] = t;
            ++lo;
            --hi;
        }
        ++flips;
    }
    return flips;
}

}  // namespace fannkuch

class IntegerBenchmark : public CpuBenchmark {
public:
    static constexpr std::uint64_t kFlipsPerPoint = 100000;

    std::uint64_t run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) override;
};
