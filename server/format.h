#pragma once
// Numbers and dates as the pages write them: English, UTC, no locale.

#include <cstdint>
#include <string>

// printf's "%.*f": 2.345 with 1 -> "2.3".
std::string fixed(double value, int decimals);

// Thousands separated by commas: 1234567 -> "1,234,567", -1234 -> "-1,234".
std::string grouped(std::uint64_t value);
std::string grouped(std::int64_t value);

// Axis labels: 950, 12k, 12.5k, 1.2M, 3G.
std::string compactNumber(double value);

// Milliseconds since 1970 as "5 March 2026, 14:07 UTC".
std::string longDate(std::int64_t ms);

// Milliseconds since 1970 as "2026-03-05 14:07".
std::string shortDate(std::int64_t ms);

// Memory in bytes as "512 MiB", "16 GiB", "15.6 GiB"; 0 as "Unknown".
std::string memoryText(std::uint64_t bytes);

// A cache size in KB as "512 KB", "32 MB", "1.5 MB".
std::string cacheText(std::uint32_t kb);
