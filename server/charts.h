#pragma once
// The pages' charts as inline SVG.

#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"

// The result page's charts, each followed by the same figures as a table.

// Score against thread count, one line per kernel; without scores, a sentence that says so.
std::string cpuChart(const StageResults& score);

// The three frame rates of each scene as grouped bars; without scores, a sentence that says so.
std::string gpuChart(const std::vector<GpuTestResult>& gpu);

// A model page's distribution of one figure: how many results in each of about 20 equal
// bins of the sorted `values`, with `unit` after each score; without values, a sentence.
std::string histogramChart(const std::vector<std::int64_t>& values, const char* unit);

// One kernel of two results against thread count, a line for each (series "a" and "b").
std::string compareCpuChart(const char* title, const std::vector<CpuTestResult>& a,
                            const std::vector<CpuTestResult>& b);
