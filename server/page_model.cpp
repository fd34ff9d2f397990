#include "server/page_model.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "core/protocol.h"
#include "server/format.h"
#include "server/page_parts.h"
#include "server/pages.h"

namespace {

int percentBelow(const ModelStanding& s) {
    // The others: this result is one of the total.
    const std::int64_t others = s.total - 1;
    return others > 0 ? int(100 * s.below / others) : 0;
}

// "an AMD ...", "an NVIDIA ...", "a GeForce ...": names in capitals are read letter by
// letter or start with a vowel sound where their letter's name does.
std::string withArticle(const std::string& name) {
    if (name.empty()) return name;
    const std::string word = name.substr(0, name.find(' '));
    const bool capitals = word.size() > 1 && std::all_of(word.begin(), word.end(), [](char c) {
        return !std::islower(static_cast<unsigned char>(c));
    });
    const char c = char(std::tolower(static_cast<unsigned char>(name[0])));
    const bool vowel = std::string(capitals ? "aefhilmnorsx" : "aeiou").find(c) != std::string::npos;
    return (vowel ? "an " : "a ") + name;
}

std::string verdictClass(const std::string& verdict) {
    if (verdict.rfind("below", 0) == 0) return "below";
    if (verdict == "above") return "above";
    return "expected";
}

std::string table(const std::string& modelName, const std::vector<FigureStanding>& rows, const char* unit) {
    std::string h = "<table class=\"standing\"><thead><tr><th>Figure</th><th class=\"num\">Yours</th>"
                    "<th class=\"num\">Model median</th><th class=\"num\">Middle half</th>"
                    "<th class=\"num\">Faster than</th><th>Verdict</th></tr></thead><tbody>";
    for (const FigureStanding& f : rows) {
        const std::string verdict = modelVerdict(f.value, f.standing);
        h += "<tr data-figure=\"" + std::string(kFigureColumns[f.figure]) + "\"><td>" + figureTitle(f.figure) +
             "</td><td class=\"num\">" + grouped(f.value) + unit + "</td><td class=\"num\">" +
             grouped(f.standing.median) + unit + "</td><td class=\"num\">" + grouped(f.standing.p25) +
             "&#8211;" + grouped(f.standing.p75) + "</td><td class=\"num\">" +
             std::to_string(percentBelow(f.standing)) + "&#160;%</td><td>";
        if (verdict.empty()) {
            h += "<span class=\"verdict none\">no verdict yet</span>";
        } else {
            h += "<span class=\"verdict " + verdictClass(verdict) + "\" data-verdict=\"" + verdict + "\">" +
                 verdict + "</span>";
        }
        h += "</td></tr>";
    }
    (void)modelName;
    return h + "</tbody></table>";
}

std::string modelPart(const char* heading, const std::string& name, const std::string& link,
                      const std::vector<FigureStanding>& rows, const char* unit, const std::string& note) {
    std::string h = "<div class=\"model\"><h3>" + std::string(heading) + " <a href=\"" + link + "\">" +
                    htmlEscape(name) + "</a></h3>";
    if (rows.empty()) return h + "<p class=\"muted\">No figures of this kind in this result.</p></div>";
    const FigureStanding& lead = rows.size() > 1 ? rows[1] : rows[0];
    h += "<p class=\"headline\">" + modelStandingSentence(htmlEscape(name), lead) + note + "</p>";
    if (lead.standing.total < kMinimumForVerdict) {
        h += "<p class=\"few\">Only " + std::to_string(lead.standing.total) + (lead.standing.total == 1 ? " result" : " results") +
             " of this model so far, fewer than " + std::to_string(kMinimumForVerdict) +
             ": too few to say what it usually reaches, so there is no verdict yet.</p>";
    }
    return h + table(name, rows, unit) + "</div>";
}

}  // namespace

ModelStandingView modelStandingOf(const ModelIndex& index, const SystemInventory& inventory,
                                  const RankFigures& figures, bool flagged) {
    ModelStandingView v;
    v.flagged = flagged;
    v.processorName = processorModelName(inventory.processor.name);
    v.processorKey = processorKeyOf(inventory);
    v.graphicsName = graphicsModelName(inventory.gl_gpu.renderer);
    v.graphicsKey = graphicsKeyOf(inventory);
    v.resolution = std::to_string(inventory.width) + "&#215;" + std::to_string(inventory.height);
    for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
        if (!figures.values[i]) continue;
        const std::string& key = isProcessorFigure(i) ? v.processorKey : v.graphicsKey;
        if (key.empty()) continue;
        FigureStanding f{i, *figures.values[i], index.standing(key, i, *figures.values[i], !flagged)};
        (isProcessorFigure(i) ? v.cpu : v.gpu).push_back(f);
    }
    return v;
}

std::string modelStandingSentence(const std::string& modelName, const FigureStanding& f) {
    const std::int64_t others = f.standing.total - 1;
    if (others <= 0) return "Yours is the first result with " + withArticle(modelName);
    return "Among " + std::to_string(others) + (others == 1 ? " result" : " results") + " with " +
           withArticle(modelName) + ", yours is faster than " + std::to_string(percentBelow(f.standing)) + "&#160;%";
}

std::string modelStandingSection(const ModelStandingView& v) {
    std::string h = "<section class=\"card\" id=\"model-standing\"><h2>Among machines like it</h2>"
                    "<p class=\"lead\">Where this result stands among the results of the same processor, and "
                    "of the same graphics model at the same resolution. The verdict compares it with the middle "
                    "half of that model's results: below its 25th percentile is below what the model usually "
                    "reaches, above its 75th is above. Flagged results count in neither.</p>";
    if (v.flagged) {
        h += "<p class=\"few\">This result is flagged, so it is not among the results it is compared with here.</p>";
    }
    if (!v.processorKey.empty()) {
        h += modelPart("Processor", v.processorName, "/processors/" + v.processorKey, v.cpu, "",
                       v.cpu.size() > 1 ? ", on the best all-threads integer score." : ".");
    }
    if (!v.graphicsKey.empty()) {
        // The headline is the second scene's, as modelPart picks it.
        std::string note;
        if (v.gpu.size() > 1) {
            const SceneInfo* scene = sceneById(v.gpu[1].figure - kScene1Average + 1);
            if (scene) note = ", in " + std::string(scene->title);
        }
        h += modelPart("Graphics", v.graphicsName, "/graphics/" + v.graphicsKey, v.gpu, " FPS",
                       note + ", all at " + v.resolution + ".");
    }
    return h + "</section>";
}

// The figures of a machine's earlier runs, in the order of the table's columns.
constexpr RankFigure kHistoryFigures[] = {kIntegerBest, kFloatBest, kIntegerSingle, kFloatSingle, kScene2Average};

std::string historySection(const std::vector<HistoryEntry>& history) {
    std::string h = "<section class=\"card\" id=\"history\"><h2>Earlier runs of this machine</h2>";
    if (history.empty()) {
        return h + "<p class=\"lead\">This is the first result of this machine that we have.</p></section>";
    }
    h += "<p class=\"lead\">Found by a keyed hash of the machine's identifier; the identifier itself is never "
         "published.</p><table><thead><tr><th>When</th>";
    for (std::size_t i : kHistoryFigures) h += "<th class=\"num\">" + figureTitle(i) + "</th>";
    h += "</tr></thead><tbody>";
    for (const HistoryEntry& e : history) {
        h += "<tr><td><a href=\"/benchmarks/" + e.id + "\">" + shortDate(e.receivedAtMs) + " UTC</a></td>";
        for (std::size_t i : kHistoryFigures) {
            const auto& v = e.figures.values[i];
            h += "<td class=\"num\">" + (v ? grouped(*v) : std::string("&#8211;")) + "</td>";
        }
        h += "</tr>";
    }
    return h + "</tbody></table></section>";
}

std::string compareSection(const std::string& id, const ModelStandingView& view) {
    std::string h = "<section class=\"card\" id=\"compare\"><h2>Compare with\xE2\x80\xA6</h2>"
                    "<form class=\"compare-form\" action=\"/compare\" method=\"get\"><input type=\"hidden\" name=\"a\" value=\"" +
                    id + "\"><label for=\"b\">Another result's identifier or page address</label><input id=\"b\" name=\"b\" "
                    "required placeholder=\"Ab3dE5fG7hJk, or the address of its page\"><button>Compare</button></form>";
    if (!view.processorKey.empty()) {
        h += "<p><a href=\"/compare?a=" + id + "&amp;b=median\">Compare with the median result of the " +
             htmlEscape(view.processorName) + "</a></p>";
    }
    return h + "</section>";
}

