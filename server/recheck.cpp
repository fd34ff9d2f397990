#include "server/recheck.h"

#include <nlohmann/json.hpp>

#include "core/document.h"
#include "server/checks.h"

namespace {
constexpr int kRecheckBatch = 500;
}

RankFigures rankedFiguresOf(const SystemInventory& inventory) {
    if (!checksOf(inventory).empty()) return {};
    return rankFiguresOf(inventory.score);
}

std::size_t recheckStoredResults(ResultStore& store) {
    std::size_t done = 0;
    for (;;) {
        const std::vector<StoredResult> batch = store.checkedBefore(kChecksVersion, kRecheckBatch);
        if (batch.empty()) return done;
        std::vector<std::pair<std::string, RankFigures>> rows;
        for (const StoredResult& stored : batch) {
            // A document that no longer parses is not ranked, and is not read again.
            const auto json = nlohmann::json::parse(stored.document, nullptr, false);
            const auto parsed = json.is_discarded() ? std::nullopt : parseResultDocument(json);
            rows.emplace_back(stored.id, parsed ? rankedFiguresOf(parsed->inventory) : RankFigures{});
        }
        store.setRankedFigures(rows, kChecksVersion);
        done += rows.size();
    }
}
