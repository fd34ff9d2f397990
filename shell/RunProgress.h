#pragma once
#include <cstddef>
#include <string>

// The line that tells how far the whole run is: "Step 3 of 7 · about 1 min 20 s left".
// The time is rounded up to whole seconds; nothing left reads "almost done".
std::string runProgressText(std::size_t step, std::size_t steps, double secondsLeft);
