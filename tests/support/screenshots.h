#pragma once
// Where tests leave pictures for a person to look at: TALLYFORGE_SCREENSHOT_DIR, else here.
#include <string>

std::string screenshotDir();
std::string screenshotPath(const std::string& name);
