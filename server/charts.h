#pragma once
// The result page's charts as inline SVG, each followed by the same figures as a table.

#include <string>
#include <vector>

#include "core/records.h"

// Score against thread count, one line per kernel; without scores, a sentence that says so.
std::string cpuChart(const StageResults& score);

// The three frame rates of each scene as grouped bars; without scores, a sentence that says so.
std::string gpuChart(const std::vector<GpuTestResult>& gpu);
