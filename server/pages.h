#pragma once
// Server-rendered HTML: the result page with its inline SVG charts, the list of recent
// results and the not-found page. No scripts, no external fonts or images; every text
// that came from a submission goes through htmlEscape.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "server/checks.h"
#include "server/page_model.h"
#include "server/store.h"
#include "server/submission.h"

std::string htmlEscape(std::string_view text);

// The policy sent with every page: no scripts at all, only this service's own stylesheet
// (allowed by its hash), nothing loaded from elsewhere.
const std::string& pageContentSecurityPolicy();

struct ResultView {
    std::string id;
    std::int64_t receivedAtMs = 0;
    SystemInventory inventory;
    RankFigures figures;
    Standing standing;
    std::vector<const ResultCheck*> checks;  // raised by this result; empty when clean
    ModelStandingView models;
    std::vector<HistoryEntry> history;       // earlier runs of the same machine, newest first
};

std::string renderResultPage(const ResultView& result);
std::string renderMethodologyPage();
std::string renderNotFoundPage();
std::string renderErrorPage();
// While the database cannot be reached (503).
std::string renderUnavailablePage();

// "Faster than 73 % of results" and friends; empty when the result lacks the figure.
std::string standingSentence(const RankFigures& figures, const Standing& standing, std::size_t figure);
