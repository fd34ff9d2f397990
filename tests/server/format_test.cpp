#include "server/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

TEST(Format, NumbersAsThePagesWriteThem) {
    struct Case {
        std::string written, expected;
    };
    const Case cases[] = {
        {grouped(std::uint64_t(0)), "0"},
        {grouped(std::uint64_t(999)), "999"},
        {grouped(std::uint64_t(1000)), "1,000"},
        {grouped(std::uint64_t(1234567)), "1,234,567"},
        {grouped(std::numeric_limits<std::uint64_t>::max()), "18,446,744,073,709,551,615"},
        {grouped(std::int64_t(-1234)), "-1,234"},
        {grouped(std::numeric_limits<std::int64_t>::min()), "-9,223,372,036,854,775,808"},
        {fixed(2.345, 1), "2.3"},
        {fixed(7, 0), "7"},
        {compactNumber(950), "950"},
        {compactNumber(9999), "9,999"},
        {compactNumber(12000), "12k"},
        {compactNumber(12500), "12.5k"},
        {compactNumber(1200000), "1.2M"},
        {compactNumber(3e9), "3G"},
        {memoryText(0), "Unknown"},
        {memoryText(512ull << 20), "512 MiB"},
        {memoryText(16ull << 30), "16 GiB"},
        {memoryText(16743890944ull), "15.6 GiB"},
        {cacheText(512), "512 KB"},
        {cacheText(32768), "32 MB"},
        {cacheText(1536), "1.5 MB"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.written, c.expected);
}

TEST(Format, DatesInUtc) {
    // 2026-03-05 14:07:59.999 UTC
    const std::int64_t ms = 1772719679999;
    EXPECT_EQ(longDate(ms), "5 March 2026, 14:07 UTC");
    EXPECT_EQ(shortDate(ms), "2026-03-05 14:07");
    EXPECT_EQ(longDate(0), "1 January 1970, 00:00 UTC");
    EXPECT_EQ(shortDate(0), "1970-01-01 00:00");
}
