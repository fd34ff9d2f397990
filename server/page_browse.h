#pragma once
// Browsing the stored results: lists of processor and graphics models, one model's
// distribution and results, all results page by page, search, and two results side by
// side. Every list is a Listing, so each can be exported as JSON or CSV.

#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"
#include "server/listing.h"
#include "server/models.h"
#include "server/store.h"

struct ListedResult {
    std::string id;
    std::int64_t receivedAtMs = 0;
    SystemInventory inventory;
};

// The stored results that parse, in the order given.
std::vector<ListedResult> listedResults(const std::vector<StoredResult>& stored);

Listing modelListing(const std::vector<ModelSummary>& models, bool graphics);
Listing resultListing(const std::vector<ListedResult>& results);

std::string renderModelsPage(bool graphics, const Listing& models, const std::string& sortedBy, bool descending);
std::string renderModelPage(bool graphics, const ModelSummary& model, std::size_t figure,
                            const std::vector<std::int64_t>& values, const Listing& results);
// The query of this page of all results and of its neighbours ("older=..."); empty
// where there is none (here: the newest page).
struct ResultsPager {
    std::string here, newer, older;
};
std::string renderResultsPage(const Listing& results, const ResultsPager& pager, std::int64_t total);
std::string renderSearchPage(const std::string& query, const Listing& models, const Listing& results);

struct CompareSide {
    std::string id;
    SystemInventory inventory;
};
std::string renderComparePage(const CompareSide& a, const CompareSide& b);

// The result identifier in what a person pasted: the identifier or a page address.
std::string resultIdFrom(const std::string& text);
