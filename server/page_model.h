#pragma once
// The parts of a result page that set it among results like it: where it stands among
// the results of its processor and graphics models, and the earlier runs of its machine.

#include <cstdint>
#include <string>
#include <vector>

#include "server/models.h"
#include "server/submission.h"

struct FigureStanding {
    std::size_t figure = 0;  // index into RankFigures
    std::int64_t value = 0;
    ModelStanding standing;
};

struct ModelStandingView {
    std::string processorName, processorKey;
    std::vector<FigureStanding> cpu;
    std::string graphicsName, graphicsKey, resolution;
    std::vector<FigureStanding> gpu;
    bool flagged = false;  // the result itself does not count in these standings
};

struct HistoryEntry {
    std::string id;
    std::int64_t receivedAtMs = 0;
    RankFigures figures;
};

ModelStandingView modelStandingOf(const ModelIndex& index, const SystemInventory& inventory,
                                  const RankFigures& figures, bool flagged);

// "Among 37 results with an AMD Ryzen 7 7800X3D, yours is faster than 62 %".
std::string modelStandingSentence(const std::string& modelName, const FigureStanding& f);

// The section id="model-standing" and the section id="history" of a result page.
std::string modelStandingSection(const ModelStandingView& view);
std::string historySection(const std::vector<HistoryEntry>& history);

// "Compare with…": a form for another result's identifier or address, and a link to the
// result of its processor model nearest the model's median.
std::string compareSection(const std::string& id, const ModelStandingView& view);
