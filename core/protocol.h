#pragma once
// What the client measures and the service ranks, in one place: the thread counts of the
// CPU test, the four scenes, the figures results are ranked by and the form of a result's
// identifier. The order of each table is the order of the result document and of the
// database columns.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The thread counts of the CPU test, in the order it runs them.
inline constexpr std::array<std::uint64_t, 11> kThreadCounts = {1, 2, 4, 6, 8, 12, 16, 24, 32, 48, 64};

// One scene of the graphics test. The key names its shader (assets/shaders/scenes/KEY.frag).
struct SceneInfo {
    std::uint64_t id;  // the "id" of its result, 1 to 4
    const char* title;
    std::int64_t durationSeconds;
    const char* key;
};

inline constexpr std::array<SceneInfo, 4> kScenes = {{{1, "Flux Core", 23, "flux_core"},
                                                      {2, "Electron", 15, "electron"},
                                                      {3, "City", 22, "city"},
                                                      {4, "Clouds", 15, "clouds"}}};

// The scene with this result id, or nullptr.
constexpr const SceneInfo* sceneById(std::uint64_t id) {
    for (const SceneInfo& s : kScenes) {
        if (s.id == id) return &s;
    }
    return nullptr;
}

// The figures results are ranked by, in the order of their database columns.
enum RankFigure : std::size_t {
    kIntegerSingle,
    kIntegerBest,
    kFloatSingle,
    kFloatBest,
    kScene1Average,
    kScene2Average,
    kScene3Average,
    kScene4Average,
    kRankFigureCount
};

inline constexpr std::array<const char*, kRankFigureCount> kFigureColumns = {
    "cpu_integer_single", "cpu_integer_best", "cpu_float_single", "cpu_float_best",
    "scene1_average",     "scene2_average",   "scene3_average",   "scene4_average"};

// Processor figures come first, then the scenes'.
constexpr bool isProcessorFigure(std::size_t figure) { return figure < kScene1Average; }

// The average frame rate figure of the scene with this result id (1 to 4).
constexpr RankFigure sceneAverageFigure(std::uint64_t sceneId) {
    return RankFigure(kScene1Average + (sceneId - 1));
}

// A stored result's identifier: the service makes it, the client puts it into the result
// page address, so both hold it to exactly this length and alphabet.
inline constexpr std::size_t kIdentifierLength = 12;
inline constexpr std::string_view kIdentifierAlphabet =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Exactly kIdentifierLength characters of kIdentifierAlphabet, nothing around them.
constexpr bool isResultIdentifier(std::string_view text) {
    if (text.size() != kIdentifierLength) return false;
    for (char c : text) {
        if (kIdentifierAlphabet.find(c) == std::string_view::npos) return false;
    }
    return true;
}
