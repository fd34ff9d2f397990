#include "server/browse_routes.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "core/document.h"
#include "server/page_browse.h"
#include "server/identifier.h"
#include "server/pages.h"
#include "server/submission.h"

namespace {

constexpr int kPerPage = 50;
constexpr int kModelResults = 50;
constexpr int kSearchResults = 20;
constexpr std::size_t kMaxQuery = 200;

void sendPage(httplib::Response& res, int status, const std::string& html) {
    res.status = status;
    res.set_header("Content-Security-Policy", pageContentSecurityPolicy());
    res.set_content(html, "text/html; charset=utf-8");
}

// ?format=json or csv: the listing itself. Returns false for the HTML page.
bool sendExport(const httplib::Request& req, httplib::Response& res, const Listing& listing) {
    const std::string format = req.get_param_value("format");
    if (format == "json") {
        res.set_header("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
        res.set_content(listingJson(listing), "application/json; charset=utf-8");
    } else if (format == "csv") {
        res.set_header("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
        res.set_content(listingCsv(listing), "text/csv; charset=utf-8");
    } else {
        return false;
    }
    return true;
}

std::string folded(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::string word;
    for (char c : folded(text) + " ") {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!word.empty()) out.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return out;
}

bool matches(const ModelSummary& m, const std::vector<std::string>& query) {
    const std::string name = folded(m.name) + " " + m.key;
    return std::all_of(query.begin(), query.end(), [&](const std::string& w) { return name.find(w) != std::string::npos; });
}

// A place in the list as the page links write it: "<received at, ms>-<identifier>".
std::optional<ResultPosition> positionParam(const std::string& text) {
    const std::size_t dash = text.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 15 || text.size() - dash - 1 != kIdentifierLength) return std::nullopt;
    const std::string time = text.substr(0, dash), id = text.substr(dash + 1);
    // Bytes of a query are any bytes: compared as characters, never passed to isdigit.
    const bool digits = std::all_of(time.begin(), time.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || !isResultIdentifier(id)) return std::nullopt;
    return ResultPosition{std::stoll(time), id};
}

std::string positionText(std::int64_t receivedAtMs, const std::string& id) { return std::to_string(receivedAtMs) + "-" + id; }

void modelRoute(httplib::Server& s, ResultStore& store, ModelIndex& models, bool graphics) {
    const std::string base = graphics ? "/graphics" : "/processors";
    s.Get(base, [&models, graphics](const httplib::Request& req, httplib::Response& res) {
        Listing listing = modelListing(models.summaries(graphics), graphics);
        const std::string sort = req.has_param("sort") ? req.get_param_value("sort") : "results";
        const bool descending = req.has_param("order") ? req.get_param_value("order") == "desc" : sort == "results";
        sortListing(listing, sort, descending);
        res.set_header("Cache-Control", "public, max-age=60");
        if (!sendExport(req, res, listing)) sendPage(res, 200, renderModelsPage(graphics, listing, sort, descending));
    });
    s.Get(base + "/([0-9a-z@-]{1,200})", [&store, &models, graphics](const httplib::Request& req, httplib::Response& res) {
        const std::string key = req.matches[1];
        const auto summary = models.summary(key);
        if (!summary || (key.find('@') != std::string::npos) != graphics) return sendPage(res, 404, renderNotFoundPage());
        const std::size_t from = graphics ? 4 : 0, to = graphics ? RankFigures::kCount : 4;
        std::size_t figure = graphics ? 5 : 1;
        for (std::size_t i = from; i < to; ++i) {
            if (req.get_param_value("figure") == kFigureColumns[i]) figure = i;
        }
        const Listing results = resultListing(listedResults(store.ofModel(graphics, key, kModelResults)));
        res.set_header("Cache-Control", "public, max-age=60");
        if (!sendExport(req, res, results)) {
            sendPage(res, 200, renderModelPage(graphics, *summary, figure, models.values(key, figure), results));
        }
    });
}

}  // namespace

void installBrowseRoutes(httplib::Server& s, ResultStore& store, ModelIndex& models,
                         const std::atomic<std::int64_t>& storedCount) {
    modelRoute(s, store, models, false);
    modelRoute(s, store, models, true);

    // Paged by seeking from the first or last row shown, never by an offset: the oldest
    // page costs what the newest does. One more row than shown says whether more follow.
    s.Get("/benchmarks", [&store, &storedCount](const httplib::Request& req, httplib::Response& res) {
        const auto older = positionParam(req.get_param_value("older"));
        const auto newer = older ? std::nullopt : positionParam(req.get_param_value("newer"));
        const bool oldest = !older && !newer && req.get_param_value("oldest") == "1";
        const bool towardsNewer = newer || oldest;
        std::vector<StoredResult> rows = store.recentPage(older ? older : newer, towardsNewer, kPerPage + 1);
        const bool more = rows.size() > std::size_t(kPerPage);
        if (more) rows.erase(towardsNewer ? rows.begin() : rows.end() - 1);
        ResultsPager pager;
        pager.here = older ? "older=" + positionText(older->receivedAtMs, older->id)
                   : newer ? "newer=" + positionText(newer->receivedAtMs, newer->id)
                   : oldest ? "oldest=1" : "";
        if (!rows.empty() && (towardsNewer ? more : older.has_value())) {
            pager.newer = "newer=" + positionText(rows.front().receivedAtMs, rows.front().id);
        }
        if (!rows.empty() && (towardsNewer ? !oldest : more)) {
            pager.older = "older=" + positionText(rows.back().receivedAtMs, rows.back().id);
        }
        const Listing listing = resultListing(listedResults(rows));
        res.set_header("Cache-Control", "no-cache");
        if (!sendExport(req, res, listing)) sendPage(res, 200, renderResultsPage(listing, pager, storedCount.load()));
    });

    s.Get("/search", [&store, &models](const httplib::Request& req, httplib::Response& res) {
        const std::string q = req.get_param_value("q").substr(0, kMaxQuery);
        const std::vector<std::string> query = words(q);
        std::vector<ModelSummary> found;
        if (!query.empty()) {
            for (bool graphics : {false, true}) {
                for (ModelSummary& m : models.summaries(graphics)) {
                    if (matches(m, query)) found.push_back(std::move(m));
                }
            }
        }
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.results > b.results; });
        // Results: one named by its identifier, then the latest of the best-matched model.
        std::vector<StoredResult> stored;
        if (const std::string id = resultIdFrom(q); !id.empty()) {
            if (auto r = store.find(id)) stored.push_back(std::move(*r));
        }
        if (!found.empty()) {
            const bool graphics = !found.front().resolution.empty();
            for (StoredResult& r : store.ofModel(graphics, found.front().key, kSearchResults)) stored.push_back(std::move(r));
        }
        Listing modelList;
        modelList.columns = {{"model", "Model", false}, {"kind", "Kind", false}, {"resolution", "Screen", false},
                             {"results", "Results", true}};
        for (const ModelSummary& m : found) {
            const bool graphics = !m.resolution.empty();
            modelList.rows.push_back({{m.name, std::nullopt, (graphics ? "/graphics/" : "/processors/") + urlEncode(m.key)},
                                      {graphics ? "Graphics" : "Processor", std::nullopt, ""},
                                      {m.resolution, std::nullopt, ""},
                                      {std::to_string(m.results), m.results, ""}});
        }
        const Listing results = resultListing(listedResults(stored));
        res.set_header("Cache-Control", "public, max-age=60");
        if (!sendExport(req, res, results)) sendPage(res, 200, renderSearchPage(q, modelList, results));
    });

    s.Get("/compare", [&store, &models](const httplib::Request& req, httplib::Response& res) {
        const auto load = [&store](const std::string& id) -> std::optional<CompareSide> {
            if (id.empty()) return std::nullopt;
            const auto found = store.find(id);
            if (!found) return std::nullopt;
            const auto json = nlohmann::json::parse(found->document, nullptr, false);
            auto parsed = json.is_discarded() ? std::nullopt : parseResultDocument(json);
            if (!parsed) return std::nullopt;
            return CompareSide{found->id, std::move(parsed->inventory)};
        };
        const auto a = load(resultIdFrom(req.get_param_value("a")));
        if (!a) return sendPage(res, 404, renderNotFoundPage());
        std::string other = resultIdFrom(req.get_param_value("b"));
        if (req.get_param_value("b") == "median") {
            // The result of A's processor model nearest the model's median best integer score.
            const std::string key = processorKeyOf(a->inventory);
            const auto summary = models.summary(key);
            if (summary && summary->medians[1]) other = store.processorResultFrom(key, *summary->medians[1]).value_or("");
        }
        const auto b = load(other);
        if (!b) return sendPage(res, 404, renderNotFoundPage());
        res.set_header("Cache-Control", "public, max-age=60");
        sendPage(res, 200, renderComparePage(*a, *b));
    });
}

void addModelNames(const SystemInventory& inventory, ModelIndex& models) {
    models.setName(processorKeyOf(inventory), processorModelName(inventory.processor.name));
    models.setName(graphicsKeyOf(inventory), graphicsModelName(inventory.gl_gpu.renderer));
}

void loadModelNames(ResultStore& store, ModelIndex& models) {
    for (bool graphics : {false, true}) {
        for (const auto& [key, document] : store.modelSamples(graphics)) {
            const auto json = nlohmann::json::parse(document, nullptr, false);
            const auto parsed = json.is_discarded() ? std::nullopt : parseResultDocument(json);
            if (parsed) addModelNames(parsed->inventory, models);
        }
    }
}
