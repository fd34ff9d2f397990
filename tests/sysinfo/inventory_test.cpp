#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sysinfo/inventory.h"

namespace {

struct MemoryCase {
    const char* label;
    std::string text;
    std::uint64_t expected;
};

class TotalPhysicalMemoryCases : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(TotalPhysicalMemoryCases, Parses) {
    EXPECT_EQ(parseTotalPhysicalMemory(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TotalPhysicalMemoryCases,
    ::testing::Values(MemoryCase{"Plain", "17179869184", 17179869184ull},
                      MemoryCase{"LeadingWhiteSpace", " \t17179869184", 17179869184ull},
                      MemoryCase{"StopsAtNonDigit", "8192 bytes", 8192},
                      MemoryCase{"PlusSign", "+42", 42},
                      MemoryCase{"Largest", "18446744073709551615", 18446744073709551615ull},
                      MemoryCase{"TooLarge", "18446744073709551616", 0},
                      MemoryCase{"Negative", "-1", 0},
                      MemoryCase{"NotANumber", "lots", 0},
                      MemoryCase{"Empty", "", 0},
                      MemoryCase{"OnlySpace", "   ", 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

}  // namespace
