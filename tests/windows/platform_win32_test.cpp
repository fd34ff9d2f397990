// The Windows platform layer, run under Wine or on Windows.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>

#include <windows.h>

namespace {

double secondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace

class WaitPreciseTest : public ::testing::TestWithParam<int> {};

// The timer may end a little late but never early; a wait far beyond the request means the
// due time was misread (wrong unit or sign).
TEST_P(WaitPreciseTest, WaitsAtLeastTheDurationAndNotFarLonger) {
    const auto wanted = std::chrono::milliseconds(GetParam());
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    ASSERT_TRUE(waitPrecise(wanted));
    const double elapsed = secondsSince(start);
    const double wantedSeconds = GetParam() / 1000.0;
    // Wine's performance counter and timer clock may disagree by a fraction of a millisecond.
    EXPECT_GE(elapsed, wantedSeconds - 0.0005);
    EXPECT_LT(elapsed, wantedSeconds + 0.25);
}

INSTANTIATE_TEST_SUITE_P(Durations, WaitPreciseTest, ::testing::Values(1, 20, 250));

TEST(WaitPrecise, NonPositiveDurationsReturnAtOnce) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    EXPECT_TRUE(waitPrecise(std::chrono::nanoseconds(0)));
    EXPECT_TRUE(waitPrecise(std::chrono::nanoseconds(-5'000'000'000LL)));
    EXPECT_LT(secondsSince(start), 0.1);
}

TEST(RaiseProcessPriority, SetsHighPriorityClass) {
    SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    raiseProcessPriority();
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), static_cast<DWORD>(HIGH_PRIORITY_CLASS));
    SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
}
