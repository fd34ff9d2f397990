#include "shell/RunProgress.h"

#include <cmath>

std::string runProgressText(std::size_t step, std::size_t steps, double secondsLeft) {
    std::string text = "Step " + std::to_string(step) + " of " + std::to_string(steps) + " \u00b7 ";
    const long long seconds = secondsLeft > 0 ? static_cast<long long>(std::ceil(secondsLeft)) : 0;
    if (seconds == 0) return text + "almost done";
    text += "about ";
    if (seconds >= 60) {
        text += std::to_string(seconds / 60) + " min";
        if (seconds % 60 != 0) text += " ";
    }
    if (seconds % 60 != 0) text += std::to_string(seconds % 60) + " s";
    return text + " left";
}
