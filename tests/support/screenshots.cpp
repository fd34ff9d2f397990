#include "screenshots.h"

#include <cstdlib>

std::string screenshotDir() {
    const char* dir = std::getenv("TALLYFORGE_SCREENSHOT_DIR");
    return dir ? dir : ".";
}

std::string screenshotPath(const std::string& name) { return screenshotDir() + "/" + name; }
