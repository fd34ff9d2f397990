#pragma once
// What the page files share: the head and end of every page (written in pages.cpp), the
// stylesheet rules of the checks and the methodology page, and the checks section of a
// result page.

#include <string>
#include <vector>

#include "server/checks.h"

std::string sharedPageHead(const std::string& title, const std::string& description);
extern const char* const kSharedPageEnd;

// Appended to the base stylesheet; the Content-Security-Policy allows the whole by its hash.
extern const char* const kExtraStyle;

// The section id="checks" of a flagged result; empty for a clean one.
std::string checksSection(const std::vector<const ResultCheck*>& checks);
