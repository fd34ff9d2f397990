#include "server/page_browse.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "core/document.h"
#include "server/charts.h"
#include "server/format.h"
#include "server/page_parts.h"
#include "server/pages.h"
#include "server/submission.h"

namespace {

// A figure's title with the unit of a frame rate.
std::string figureTitleWithUnit(std::size_t figure) {
    return figureTitle(figure) + (figure >= kScene1Average ? " FPS" : "");
}

ListingCell number(const std::optional<std::int64_t>& v) { return {v ? std::to_string(*v) : "", v, ""}; }

std::string page(const std::string& title, const std::string& description, const std::string& body) {
    return sharedPageHead(title + " \xC2\xB7 Tallyforge Benchmark", description) + "<main class=\"wrap\">" + body +
           "</main>" + kSharedPageEnd;
}

std::string browseNav() {
    return "<nav class=\"browse\"><a href=\"/processors\">Processors</a><a href=\"/graphics\">Graphics</a>"
           "<a href=\"/benchmarks\">All results</a><form action=\"/search\" method=\"get\" role=\"search\">"
           "<label for=\"q\" class=\"hidden\">Search</label><input id=\"q\" name=\"q\" type=\"search\" "
           "placeholder=\"Search a processor, a graphics card or a result\"><button>Search</button></form></nav>";
}

std::string exportLinks(const std::string& base) {
    const std::string joiner = base.find('?') == std::string::npos ? "?" : "&amp;";
    return "<p class=\"export\">Download this list: <a href=\"" + base + joiner + "format=json\">JSON</a> \xC2\xB7 <a href=\"" +
           base + joiner + "format=csv\">CSV</a></p>";
}

std::string percentDiff(std::int64_t a, std::int64_t b) {
    if (a == 0) return "&#8212;";
    const double d = 100.0 * double(b - a) / double(a);
    const std::string cls = d > 0.5 ? "up" : (d < -0.5 ? "down" : "same");
    return "<span class=\"diff " + cls + "\">" + (d > 0 ? "+" : "") + fixed(d, 1) + "&#160;%</span>";
}

}  // namespace

std::vector<ListedResult> listedResults(const std::vector<StoredResult>& stored) {
    std::vector<ListedResult> out;
    for (const StoredResult& s : stored) {
        const auto json = nlohmann::json::parse(s.document, nullptr, false);
        auto parsed = json.is_discarded() ? std::nullopt : parseResultDocument(json);
        if (parsed) out.push_back({s.id, s.receivedAtMs, std::move(parsed->inventory)});
    }
    return out;
}

Listing modelListing(const std::vector<ModelSummary>& models, bool graphics) {
    Listing l;
    l.columns.push_back({"model", graphics ? "Graphics" : "Processor", false});
    if (graphics) l.columns.push_back({"resolution", "Resolution", false});
    l.columns.push_back({"results", "Results", true});
    const std::size_t from = graphics ? std::size_t(kScene1Average) : 0, to = graphics ? RankFigures::kCount : std::size_t(kScene1Average);
    // Short titles: the page says these are medians.
    constexpr const char* kShortCpu[kScene1Average] = {"Integer, 1 thread", "Integer, all", "Float, 1 thread",
                                                       "Float, all"};
    for (std::size_t i = from; i < to; ++i) {
        l.columns.push_back({std::string("median_") + kFigureColumns[i],
                             i < kScene1Average ? kShortCpu[i] : kScenes[i - kScene1Average].title, true});
    }
    for (const ModelSummary& m : models) {
        std::vector<ListingCell> row{{m.name, std::nullopt, (graphics ? "/graphics/" : "/processors/") + urlEncode(m.key)}};
        if (graphics) row.push_back({m.resolution, std::nullopt, ""});
        row.push_back(number(m.results));
        for (std::size_t i = from; i < to; ++i) row.push_back(number(m.medians[i]));
        l.rows.push_back(std::move(row));
    }
    return l;
}

Listing resultListing(const std::vector<ListedResult>& results) {
    Listing l;
    l.columns = {{"id", "Result", false, false},
                 {"submitted", "Submitted (UTC)", false},
                 {"processor", "Processor", false},
                 {"graphics", "Graphics", false},
                 {"resolution", "Screen", false}};
    // The page shows the main figures; the exports have all of them.
    for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
        l.columns.push_back({kFigureColumns[i], figureTitleWithUnit(i), true,
                             i == kIntegerBest || i == kFloatBest || i == kScene1Average || i == kScene2Average});
    }
    for (const ListedResult& r : results) {
        const RankFigures f = rankFiguresOf(r.inventory.score);
        std::vector<ListingCell> row{{r.id, std::nullopt, "/benchmarks/" + r.id},
                                     {shortDate(r.receivedAtMs), std::nullopt, ""},
                                     {r.inventory.processor.name, std::nullopt, "/benchmarks/" + r.id},
                                     {graphicsModelName(r.inventory.gl_gpu.renderer), std::nullopt, ""},
                                     {std::to_string(r.inventory.width) + "x" + std::to_string(r.inventory.height), std::nullopt, ""}};
        for (const auto& v : f.values) row.push_back(number(v));
        l.rows.push_back(std::move(row));
    }
    return l;
}

std::string renderModelsPage(bool graphics, const Listing& models, const std::string& sortedBy, bool descending) {
    const std::string path = graphics ? "/graphics" : "/processors";
    std::string h = "<section class=\"hero\"><p class=\"eyebrow\">" + grouped(std::int64_t(models.rows.size())) +
                    (graphics ? " graphics models" : " processor models") + "</p><h1>" +
                    (graphics ? "Graphics cards" : "Processors") + "</h1>" + browseNav() + "</section>";
    h += "<section class=\"card\"><p class=\"lead\">" +
         std::string(graphics ? "Each graphics model at each resolution, since frame rates only compare at one size. "
                              : "") +
         "Median scores" + std::string(graphics ? " (frames per second)" : "") +
         " of the results that count: flagged results are left out. Click a column to sort by it.</p>";
    h += models.rows.empty() ? "<p class=\"empty\">No results yet.</p>"
                             : listingHtml(models, "models", path, sortedBy, descending);
    h += exportLinks(path) + "</section>";
    return page(graphics ? "Graphics cards" : "Processors", "Every model with its number of results and median scores.", h);
}

std::string renderModelPage(bool graphics, const ModelSummary& model, std::size_t figure,
                            const std::vector<std::int64_t>& values, const Listing& results) {
    const std::string path = (graphics ? "/graphics/" : "/processors/") + urlEncode(model.key);
    std::string h = "<section class=\"hero\"><p class=\"eyebrow\">" + std::string(graphics ? "Graphics model" : "Processor model") +
                    (graphics ? " \xC2\xB7 at " + htmlEscape(model.resolution) : std::string()) + "</p><h1>" +
                    htmlEscape(model.name) + "</h1><p class=\"sub\">" + grouped(model.results) +
                    (model.results == 1 ? " result" : " results") + " that count</p>" + browseNav() + "<div class=\"tiles\">";
    const std::size_t from = graphics ? 4 : 0, to = graphics ? RankFigures::kCount : 4;
    for (std::size_t i = from; i < to; ++i) {
        h += "<div class=\"tile\"><div class=\"label\">Median " + figureTitleWithUnit(i) + "</div><p class=\"value\">" +
             (model.medians[i] ? grouped(*model.medians[i]) : std::string("&#8212;")) + "</p></div>";
    }
    h += "</div></section><section class=\"card\" id=\"distribution\"><h2>How its results spread</h2><p class=\"lead\">";
    for (std::size_t i = from; i < to; ++i) {
        h += i == figure ? "<strong>" + figureTitleWithUnit(i) + "</strong>"
                         : "<a href=\"" + path + "?figure=" + kFigureColumns[i] + "\">" + figureTitleWithUnit(i) + "</a>";
        h += i + 1 < to ? " \xC2\xB7 " : "";
    }
    h += "</p>" + histogramChart(values, graphics ? " FPS" : "") + "</section>";
    h += "<section class=\"card\" id=\"results\"><h2>Latest results of this model</h2>";
    h += results.rows.empty() ? "<p class=\"empty\">None yet.</p>" : listingHtml(results, "model-results", path, "", false);
    h += exportLinks(path) + "</section>";
    return page(model.name, "Results of the " + model.name + " in the Tallyforge Benchmark.", h);
}

std::string renderResultsPage(const Listing& results, const ResultsPager& pager, std::int64_t total) {
    const std::string here = "/benchmarks" + (pager.here.empty() ? std::string() : "?" + pager.here);
    std::string h = "<section class=\"hero\"><p class=\"eyebrow\">" + grouped(total) +
                    (total == 1 ? " result stored" : " results stored") + "</p><h1>All results</h1>" + browseNav() +
                    "</section><section class=\"card\">";
    h += results.rows.empty() ? "<p class=\"empty\">No results on this page.</p>"
                              : listingHtml(results, "recent", here, "", false);
    h += "<nav class=\"pager\" aria-label=\"Pages\">";
    if (!pager.newer.empty()) {
        h += "<a href=\"/benchmarks\">&#8676; Newest</a><a rel=\"prev\" href=\"/benchmarks?" + pager.newer + "\">&#8592; Newer</a>";
    }
    h += "<span>Newest first</span>";
    if (!pager.older.empty()) {
        h += "<a rel=\"next\" href=\"/benchmarks?" + pager.older + "\">Older &#8594;</a><a href=\"/benchmarks?oldest=1\">Oldest &#8677;</a>";
    }
    h += "</nav>" + exportLinks(here) + "</section>";
    return page("All results", "Every result of the Tallyforge Benchmark, newest first.", h);
}

std::string renderSearchPage(const std::string& query, const Listing& models, const Listing& results) {
    std::string h = "<section class=\"hero\"><p class=\"eyebrow\">Search</p><h1>" +
                    (query.empty() ? std::string("Search") : "Results for \xE2\x80\x9C" + htmlEscape(query) + "\xE2\x80\x9D") +
                    "</h1>" + browseNav() + "</section>";
    const std::string base = "/search?q=" + urlEncode(query);
    h += "<section class=\"card\" id=\"found-models\"><h2>Models</h2>";
    h += models.rows.empty() ? "<p class=\"empty\">No processor or graphics model matches.</p>"
                             : listingHtml(models, "models", base, "", false);
    h += "</section><section class=\"card\" id=\"found-results\"><h2>Results</h2>";
    h += results.rows.empty() ? "<p class=\"empty\">No result matches.</p>" : listingHtml(results, "results", base, "", false);
    h += exportLinks(base) + "</section>";
    return page("Search", "Find processors, graphics cards and results.", h);
}

std::string renderComparePage(const CompareSide& a, const CompareSide& b) {
    const SystemInventory& x = a.inventory;
    const SystemInventory& y = b.inventory;
    std::string h = "<section class=\"hero\"><p class=\"eyebrow\">Comparison</p><h1>" +
                    htmlEscape(processorModelName(x.processor.name)) + " <span class=\"vs\">vs</span> " +
                    htmlEscape(processorModelName(y.processor.name)) + "</h1><p class=\"sub\"><span class=\"key a\"></span>A: <a href=\"/benchmarks/" +
                    a.id + "\">" + a.id + "</a> \xC2\xB7 <span class=\"key b\"></span>B: <a href=\"/benchmarks/" + b.id + "\">" + b.id +
                    "</a> \xC2\xB7 differences are B against A</p>" + browseNav() + "</section>";

    const RankFigures fa = rankFiguresOf(x.score), fb = rankFiguresOf(y.score);
    h += "<section class=\"card\" id=\"compare-figures\"><h2>Figures</h2><table><thead><tr><th>Figure</th><th class=\"num\">A</th>"
         "<th class=\"num\">B</th><th class=\"num\">Difference</th></tr></thead><tbody>";
    for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
        const auto& va = fa.values[i];
        const auto& vb = fb.values[i];
        if (!va && !vb) continue;
        h += "<tr data-figure=\"" + std::string(kFigureColumns[i]) + "\"><td>" + figureTitleWithUnit(i) + "</td><td class=\"num\">" +
             (va ? grouped(*va) : "&#8212;") + "</td><td class=\"num\">" + (vb ? grouped(*vb) : "&#8212;") +
             "</td><td class=\"num\">" + (va && vb ? percentDiff(*va, *vb) : std::string("&#8212;")) + "</td></tr>";
    }
    h += "</tbody></table></section>";

    h += "<section class=\"card\" id=\"compare-cpu\"><h2>Processor</h2><div class=\"legend\"><span><i class=\"sw int\"></i>A</span>"
         "<span><i class=\"sw float\"></i>B</span></div>";
    h += compareCpuChart("Integer", x.score.cpu_integer, y.score.cpu_integer);
    h += compareCpuChart("Floating point", x.score.cpu_float, y.score.cpu_float);
    h += "</section>";

    h += "<section class=\"card\" id=\"compare-scenes\"><h2>Scenes</h2><table><thead><tr><th>Scene</th><th class=\"num\">A average</th>"
         "<th class=\"num\">B average</th><th class=\"num\">Difference</th><th class=\"num\">A 1&#160;% low</th>"
         "<th class=\"num\">B 1&#160;% low</th><th class=\"num\">Difference</th></tr></thead><tbody>";
    for (const SceneInfo& scene : kScenes) {
        const std::uint64_t id = scene.id;
        const auto find = [id](const StageResults& s) -> const GpuTestResult* {
            for (const GpuTestResult& g : s.gpu) {
                if (g.id == id) return &g;
            }
            return nullptr;
        };
        const GpuTestResult* ga = find(x.score);
        const GpuTestResult* gb = find(y.score);
        if (!ga && !gb) continue;
        const auto cell = [](const GpuTestResult* g, std::uint64_t GpuTestResult::*m) {
            return g ? grouped(std::int64_t(g->*m)) : std::string("&#8212;");
        };
        h += "<tr><td>" + std::string(scene.title) + "</td><td class=\"num\">" + cell(ga, &GpuTestResult::average) +
             "</td><td class=\"num\">" + cell(gb, &GpuTestResult::average) + "</td><td class=\"num\">" +
             (ga && gb ? percentDiff(std::int64_t(ga->average), std::int64_t(gb->average)) : "&#8212;") +
             "</td><td class=\"num\">" + cell(ga, &GpuTestResult::one_percent) + "</td><td class=\"num\">" +
             cell(gb, &GpuTestResult::one_percent) + "</td><td class=\"num\">" +
             (ga && gb ? percentDiff(std::int64_t(ga->one_percent), std::int64_t(gb->one_percent)) : "&#8212;") + "</td></tr>";
    }
    h += "</tbody></table>";
    if (x.width != y.width || x.height != y.height) {
        h += "<p class=\"few\">The two ran the scenes at different resolutions, so their frame rates do not compare directly.</p>";
    }
    h += "</section>";

    struct Detail {
        const char* name;
        std::string a, b;
    };
    const auto gpuNames = [](const SystemInventory& inv) {
        std::string s;
        for (const VideoControllerInfo& c : inv.video_controllers) s += (s.empty() ? "" : ", ") + c.name;
        return s;
    };
    const std::vector<Detail> details = {
        {"Processor", x.processor.name, y.processor.name},
        {"Cores / threads", std::to_string(x.processor.core_count) + " / " + std::to_string(x.processor.thread_count),
         std::to_string(y.processor.core_count) + " / " + std::to_string(y.processor.thread_count)},
        {"Clock", std::to_string(x.processor.clock_speed) + " MHz", std::to_string(y.processor.clock_speed) + " MHz"},
        {"Memory", grouped(std::int64_t(x.computer_system.total_physical_memory >> 20)) + " MiB",
         grouped(std::int64_t(y.computer_system.total_physical_memory >> 20)) + " MiB"},
        {"Graphics", gpuNames(x), gpuNames(y)},
        {"OpenGL renderer", x.gl_gpu.renderer, y.gl_gpu.renderer},
        {"Driver", x.video_controllers.empty() ? "" : x.video_controllers[0].driver_version,
         y.video_controllers.empty() ? "" : y.video_controllers[0].driver_version},
        {"Screen", std::to_string(x.width) + " \xC3\x97 " + std::to_string(x.height),
         std::to_string(y.width) + " \xC3\x97 " + std::to_string(y.height)},
        {"System", x.computer_system.manufacturer + " " + x.computer_system.model,
         y.computer_system.manufacturer + " " + y.computer_system.model},
        {"Operating system", x.windows_version, y.windows_version}};
    h += "<section class=\"card\" id=\"compare-machines\"><h2>The machines</h2><p class=\"lead\">What differs is marked.</p>"
         "<table><thead><tr><th></th><th>A</th><th>B</th></tr></thead><tbody>";
    for (const Detail& d : details) {
        const bool differs = d.a != d.b;
        h += std::string("<tr") + (differs ? " class=\"differs\"" : "") + "><th scope=\"row\">" + d.name +
             (differs ? " <span class=\"mark\">differs</span>" : "") + "</th><td>" + htmlEscape(d.a) + "</td><td>" +
             htmlEscape(d.b) + "</td></tr>";
    }
    h += "</tbody></table></section>";
    return page("Comparison", "Two Tallyforge Benchmark results side by side.", h);
}

std::string resultIdFrom(const std::string& text) {
    // The last run of 12 letters and digits: the identifier alone or at the end of a page address.
    std::string run, last;
    for (char c : text + "/") {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            run += c;
        } else {
            if (run.size() == 12) last = run;
            run.clear();
        }
    }
    return last;
}
