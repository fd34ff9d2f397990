#include "cpu/FloatingPointBenchmark.h"
#include "cpu/IntegerBenchmark.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(PermutationGenerator, FirstSevenPermutationsAndTheirFlips) {
    struct Case {
        std::vector<int> head;  // the leading elements; the rest stays in order
        std::uint32_t flips;
    };
    const std::vector<Case> cases = {
        {{1, 2, 3, 4}, 0}, {{2, 1, 3, 4}, 1}, {{2, 3, 1, 4}, 2}, {{3, 2, 1, 4}, 1},
        {{3, 1, 2, 4}, 2}, {{1, 3, 2, 4}, 0}, {{2, 3, 4, 1, 5}, 3},
    };
    fannkuch::PermutationGenerator gen;
    std::uint32_t total = 0;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(k);
        fannkuch::Permutation expected{};
        for (int i = 0; i < fannkuch::kSize; ++i) expected[i] = static_cast<std::uint8_t>(i + 1);
        for (std::size_t i = 0; i < cases[k].head.size(); ++i) expected[i] = static_cast<std::uint8_t>(cases[k].head[i]);
        EXPECT_EQ(gen.perm, expected);
        EXPECT_EQ(fannkuch::countFlips(gen.perm), cases[k].flips);
        total += fannkuch::countFlips(gen.perm);
        gen.next();
    }
    EXPECT_EQ(total, 9u);
}

TEST(PermutationGenerator, FlipTotals) {
    struct Case {
        int permutations;
        std::uint64_t flipTotal;
    };
    for (const Case c : {Case{24, 38}, Case{120, 265}, Case{1000, 3262}}) {
        fannkuch::PermutationGenerator gen;
        std::uint64_t total = 0;
        for (int i = 0; i < c.permutations; ++i) {
            total += fannkuch::countFlips(gen.perm);
            gen.next();
        }
        EXPECT_EQ(total, c.flipTotal) << c.permutations << " permutations";
    }
}

TEST(FiveBody, SolarMassAndMomentumOffset) {
    EXPECT_DOUBLE_EQ(nbody::SOLAR_MASS, 39.47841760435743);
    const nbody::System s = nbody::initialSystem();
    EXPECT_DOUBLE_EQ(s[0].vx, -0.00038766340719874267);
    EXPECT_DOUBLE_EQ(s[0].vy, -0.0032753590371765707);
    EXPECT_DOUBLE_EQ(s[0].vz, 0.000023935734080003);
    // The planets keep their table values.
    EXPECT_EQ(s[1].vx, nbody::kInitialSystem[1].vx);
    EXPECT_EQ(s[4].mass, nbody::kInitialSystem[4].mass);
}

TEST(FiveBody, EnergyAtStartAndAfterThousandSteps) {
    nbody::System s = nbody::initialSystem();
    EXPECT_DOUBLE_EQ(nbody::energy(s), -0.16907516382852447);
    for (int i = 0; i < 1000; ++i) nbody::advance(s);
    EXPECT_NEAR(nbody::energy(s), -0.1690876052, 0.5e-10);
}

struct KernelCase {
    const char* name;
    std::shared_ptr<CpuBenchmark> kernel;
};

std::vector<KernelCase> kernels() {
    return {{"integer", std::make_shared<IntegerBenchmark>()},
            {"floating point", std::make_shared<FloatingPointBenchmark>()}};
}

TEST(Kernels, ReturnZeroAtOnceWhenStoppedOnEntry) {
    for (const auto& k : kernels()) {
        for (const bool runningFlag : {false, true}) {
            std::atomic<bool> running{runningFlag};
            std::atomic<bool> abortFlag{runningFlag};  // either closed or aborted
            EXPECT_EQ(k.kernel->run(running, abortFlag), 0u) << k.name << " running=" << runningFlag;
        }
    }
}

TEST(Kernels, CountWorkUntilTheWindowCloses) {
    // A window long enough for well over one point of work on any machine, sanitizers included.
    for (const auto& k : kernels()) {
        std::atomic<bool> running{true};
        std::atomic<bool> abortFlag{false};
        std::thread closer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            running.store(false);
        });
        const std::uint64_t score = k.kernel->run(running, abortFlag);
        closer.join();
        EXPECT_GT(score, 0u) << k.name;
    }
}

TEST(Kernels, StopWhenAbortedMidRun) {
    for (const auto& k : kernels()) {
        std::atomic<bool> running{true};
        std::atomic<bool> abortFlag{false};
        std::thread aborter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            abortFlag.store(true);
        });
        k.kernel->run(running, abortFlag);  // returns only because of the abort
        aborter.join();
        EXPECT_TRUE(running.load()) << k.name << ": the kernel must not write the flags";
    }
}

}  // namespace
