#pragma once
// Every kind of page the service renders, from one inventory and one search text, for the
// page tests and the fuzz target: the result page with its standings and history, the
// list of all results, search, comparison, the model lists and model pages, methodology
// and not-found.

#include <string>
#include <vector>

#include "core/protocol.h"
#include "server/checks.h"
#include "server/models.h"
#include "server/page_browse.h"
#include "server/page_model.h"
#include "server/pages.h"
#include "server/submission.h"

namespace testkit {

struct RenderedPage {
    std::string kind;
    std::string html;
};

inline std::vector<RenderedPage> renderEveryPageKind(const SystemInventory& inv, const std::string& query) {
    const RankFigures figures = rankFiguresOf(inv.score);
    ModelIndex models;
    const ModelFigures row{processorKeyOf(inv), graphicsKeyOf(inv), figures};
    models.reset({row, row});
    models.setName(row.cpuModel, processorModelName(inv.processor.name));
    models.setName(row.gpuModel, graphicsModelName(inv.gl_gpu.renderer));

    ResultView view;
    view.id = "AAAAAAAAAAAA";
    view.inventory = inv;
    view.figures = figures;
    view.checks = checksOf(inv);
    view.models = modelStandingOf(models, inv, figures, false);
    view.history = {{"BBBBBBBBBBBB", 1700000000000, figures}};

    const Listing results = resultListing({{view.id, 1700000000000, inv}, {"BBBBBBBBBBBB", 1700000001000, inv}});
    std::vector<RenderedPage> pages = {
        {"result", renderResultPage(view)},
        {"results list", renderResultsPage(results, {"older=1700000001000-BBBBBBBBBBBB", "newer=1-AAAAAAAAAAAA", "older=1-AAAAAAAAAAAA"}, 2)},
        {"search", renderSearchPage(query, modelListing(models.summaries(false), false), results)},
        {"compare", renderComparePage({view.id, inv}, {"BBBBBBBBBBBB", inv})},
        {"methodology", renderMethodologyPage()},
        {"not found", renderNotFoundPage()},
    };
    for (bool graphics : {false, true}) {
        const std::vector<ModelSummary> summaries = models.summaries(graphics);
        if (summaries.empty()) continue;
        const std::string kind = graphics ? "graphics" : "processor";
        pages.push_back({kind + " list", renderModelsPage(graphics, modelListing(summaries, graphics), "results", true)});
        const std::size_t figure = graphics ? kScene1Average : kIntegerBest;
        pages.push_back({kind + " model", renderModelPage(graphics, summaries.front(), figure,
                                                          models.values(summaries.front().key, figure), results)});
    }
    return pages;
}

}  // namespace testkit
