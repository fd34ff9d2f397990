#include "cpu/IntegerBenchmark.h"

std::uint64_t IntegerBenchmark::run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) {
    fannkuch::PermutationGenerator generator;
    // 64 bits: a fast processor does more than 2^31 flips in one window.
    std::uint64_t flipTotal = 0;
    while (running.load() && !abortFlag.load()) {
        flipTotal += fannkuch::countFlips(generator.perm);
        generator.next();
    }
    return flipTotal / kFlipsPerPoint;
}
