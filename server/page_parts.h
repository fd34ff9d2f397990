#pragma once
// What the page files share: the head and end of every page (written in pages.cpp), the
// figure and scene titles, and the checks section of a result page.

#include <cstddef>
#include <string>
#include <vector>

#include "core/protocol.h"
#include "server/checks.h"

// Title and description are plain text (escaped inside).
std::string sharedPageHead(const std::string& title, const std::string& description);
extern const char* const kSharedPageEnd;

// The title of a rank figure: "Integer, one thread" and so on, a scene's title for its
// average frame rate.
inline std::string figureTitle(std::size_t figure) {
    constexpr const char* kCpuTitles[kScene1Average] = {"Integer, one thread", "Integer, all threads",
                                                        "Floating point, one thread", "Floating point, all threads"};
    return figure < kScene1Average ? kCpuTitles[figure] : kScenes[figure - kScene1Average].title;
}

// The title of a scene by its result id; fallback where no scene has that id.
inline std::string sceneTitle(std::uint64_t id, const std::string& fallback) {
    const SceneInfo* scene = sceneById(id);
    return scene ? scene->title : fallback;
}

// The section id="checks" of a flagged result; empty for a clean one.
std::string checksSection(const std::vector<const ResultCheck*>& checks);
