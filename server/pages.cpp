#include "server/pages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include "server/charts.h"
#include "server/format.h"
#include "server/page_parts.h"

extern const unsigned char pageStyleSheet[];
extern const std::size_t pageStyleSheetSize;

namespace {

constexpr const char* kLogo =
    R"svg(<svg viewBox="0 0 28 28" aria-hidden="true"><defs><linearGradient id="lg" x1="0" y1="0" x2="1" y2="1">)svg"
    R"svg(<stop offset="0" stop-color="#818cf8"/><stop offset="1" stop-color="#38bdf8"/></linearGradient></defs>)svg"
    R"svg(<rect width="28" height="28" rx="7" fill="url(#lg)"/>)svg"
    R"svg(<rect x="6" y="15" width="4" height="7" rx="1.5" fill="#0a0f1e"/>)svg"
    R"svg(<rect x="12" y="10" width="4" height="12" rx="1.5" fill="#0a0f1e"/>)svg"
    R"svg(<rect x="18" y="6" width="4" height="16" rx="1.5" fill="#0a0f1e"/></svg>)svg";

std::string formFactorText(std::int32_t type) {
    switch (type) {
        case 1: return "Desktop";
        case 2: return "Mobile";
        case 3: return "Workstation";
        case 4: return "Enterprise server";
        case 5: return "Small office server";
        case 6: return "Appliance PC";
        case 7: return "Performance server";
        default: return "";
    }
}

std::string orUnknown(const std::string& text, const char* fallback = "Unknown") {
    return text.empty() ? fallback : htmlEscape(text);
}

// The stylesheet of every page (pages.css, embedded). Kept in one piece: the
// Content-Security-Policy allows exactly this text by its hash.
const std::string& pageStyle() {
    static const std::string style(reinterpret_cast<const char*>(pageStyleSheet), pageStyleSheetSize);
    return style;
}

// Title and description are plain text: they are escaped here, like every other text.
std::string pageHead(const std::string& plainTitle, const std::string& plainDescription) {
    const std::string title = htmlEscape(plainTitle);
    const std::string description = htmlEscape(plainDescription);
    std::string h = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                    "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                    "<meta name=\"color-scheme\" content=\"dark light\">"
                    "<meta name=\"referrer\" content=\"no-referrer\">";
    h += "<title>" + title + "</title>";
    if (!description.empty()) {
        h += "<meta name=\"description\" content=\"" + description + "\">";
        h += "<meta property=\"og:type\" content=\"website\">";
        h += "<meta property=\"og:site_name\" content=\"Tallyforge Benchmark\">";
        h += "<meta property=\"og:title\" content=\"" + title + "\">";
        h += "<meta property=\"og:description\" content=\"" + description + "\">";
        h += "<meta name=\"twitter:card\" content=\"summary\">";
    }
    h += "<style>";
    h += pageStyle();
    h += "</style></head><body>";
    h += "<header class=\"top\"><div class=\"wrap\"><a class=\"brand\" href=\"/benchmarks\">";
    h += kLogo;
    h += "Tallyforge Benchmark</a><nav><a href=\"/benchmarks\">All results</a><a href=\"/methodology\">How we measure</a></nav></div></header>";
    return h;
}

constexpr const char* kPageEnd = "</body></html>\n";

std::string rankBar(const RankFigures& figures, const Standing& standing, std::size_t i) {
    const std::string sentence = standingSentence(figures, standing, i);
    if (sentence.empty()) return {};
    const std::int64_t others = standing.total[i] - 1;
    const double share = others > 0 ? double(standing.below[i]) / double(others) : 1.0;
    std::string s = "<div class=\"rank\" data-figure=\"" + std::string(kFigureColumns[i]) + "\">";
    s += "<svg viewBox=\"0 0 100 6\" preserveAspectRatio=\"none\" aria-hidden=\"true\">"
         "<rect class=\"track\" width=\"100\" height=\"6\" rx=\"3\"/>";
    s += "<rect class=\"fill\" width=\"" + fixed(std::max(2.0, 100.0 * share), 1) +
         "\" height=\"6\" rx=\"3\"/></svg>";
    s += "<p>" + sentence + "</p></div>";
    return s;
}

std::string cpuTile(const std::string& label, const char* dotClass, const std::optional<std::int64_t>& value,
                    const std::string& note, const RankFigures& figures, const Standing& standing,
                    std::size_t figure) {
    std::string s = "<div class=\"tile\"><div class=\"label\"><i class=\"dot " + std::string(dotClass) +
                    "\"></i>" + label + "</div>";
    s += "<p class=\"value\" data-figure=\"" + std::string(kFigureColumns[figure]) + "\">" +
         (value ? grouped(std::uint64_t(*value)) : "&#8212;") + "</p>";
    s += "<p class=\"note\">" + note + "</p>";
    s += rankBar(figures, standing, figure) + "</div>";
    return s;
}

std::string bestNote(const std::vector<CpuTestResult>& list) {
    if (list.empty()) return "No result";
    std::size_t best = 0;
    for (std::size_t i = 1; i < list.size(); ++i) {
        if (list[i].score > list[best].score) best = i;
    }
    const auto t = list[best].thread_count;
    return "Best score, at " + std::to_string(t) + (t == 1 ? " thread" : " threads");
}

std::string gpuSummary(const SystemInventory& inv) {
    if (!inv.gl_gpu.renderer.empty()) return inv.gl_gpu.renderer;
    if (!inv.video_controllers.empty()) return inv.video_controllers.front().name;
    return {};
}

}  // namespace

std::string sharedPageHead(const std::string& title, const std::string& description) {
    return pageHead(title, description);
}
const char* const kSharedPageEnd = kPageEnd;

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

const std::string& pageContentSecurityPolicy() {
    static const std::string policy = [] {
        unsigned char digest[SHA256_DIGEST_LENGTH];
        const std::string& style = pageStyle();
        SHA256(reinterpret_cast<const unsigned char*>(style.data()), style.size(), digest);
        unsigned char base64[64] = {};
        EVP_EncodeBlock(base64, digest, SHA256_DIGEST_LENGTH);
        return "default-src 'none'; script-src 'none'; style-src 'sha256-" +
               std::string(reinterpret_cast<char*>(base64)) +
               "'; img-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";
    }();
    return policy;
}

std::string standingSentence(const RankFigures& figures, const Standing& standing, std::size_t i) {
    if (!figures.values[i]) return {};
    const std::int64_t others = standing.total[i] - 1;
    if (others <= 0) return "The first result with this score";
    const std::int64_t below = standing.below[i];
    if (below >= others) return "Faster than all other results";
    if (below == 0) return "Not yet faster than other results";
    const std::int64_t percent = std::max<std::int64_t>(1, below * 100 / others);
    return "Faster than " + std::to_string(percent) + "&#160;% of results";
}

std::string renderResultPage(const ResultView& r) {
    const SystemInventory& inv = r.inventory;
    const std::string processor = orUnknown(inv.processor.name, "Unknown processor");
    const std::string graphics = htmlEscape(gpuSummary(inv));
    const auto& f = r.figures.values;

    std::string description;
    if (f[kIntegerBest]) description += "Integer " + grouped(std::uint64_t(*f[kIntegerBest]));
    if (f[kFloatBest]) description += std::string(description.empty() ? "" : " \xC2\xB7 ") + "Floating point " + grouped(std::uint64_t(*f[kFloatBest]));
    for (const SceneInfo& scene : kScenes) {
        const auto& v = f[sceneAverageFigure(scene.id)];
        if (v) {
            description += std::string(description.empty() ? "" : " \xC2\xB7 ") + scene.title + " " +
                           grouped(std::uint64_t(*v)) + " FPS";
        }
    }
    if (description.empty()) description = "A Tallyforge Benchmark result";

    std::string h = pageHead((inv.processor.name.empty() ? std::string("Unknown processor") : inv.processor.name) +
                                 " \xC2\xB7 Tallyforge Benchmark result",
                             description);
    h += "<main class=\"wrap\" data-result=\"" + r.id + "\">";

    h += "<section class=\"hero\"><p class=\"eyebrow\">Benchmark result \xC2\xB7 " + longDate(r.receivedAtMs) + "</p>";
    h += "<h1 id=\"processor\">" + processor + "</h1>";
    std::string sub = graphics;
    if (!inv.windows_version.empty()) sub += std::string(sub.empty() ? "" : " \xC2\xB7 ") + htmlEscape(inv.windows_version);
    if (!sub.empty()) h += "<p class=\"sub\">" + sub + "</p>";
    h += "<div class=\"tiles\">";
    h += cpuTile(figureTitle(kIntegerBest), "int", f[kIntegerBest], bestNote(inv.score.cpu_integer), r.figures, r.standing, kIntegerBest);
    h += cpuTile(figureTitle(kFloatBest), "float", f[kFloatBest], bestNote(inv.score.cpu_float), r.figures, r.standing, kFloatBest);
    h += cpuTile(figureTitle(kIntegerSingle), "int", f[kIntegerSingle], "Single-thread score", r.figures, r.standing, kIntegerSingle);
    h += cpuTile(figureTitle(kFloatSingle), "float", f[kFloatSingle], "Single-thread score", r.figures, r.standing, kFloatSingle);
    h += "</div></section>";
    h += checksSection(r.checks);
    h += modelStandingSection(r.models);

    h += "<section class=\"card\" id=\"cpu\"><h2>Processor</h2><p class=\"lead\">Score against thread "
         "count for both kernels, two seconds per test. Higher is better.</p>";
    h += cpuChart(inv.score);
    h += "</section>";

    h += "<section class=\"card\" id=\"gpu\"><h2>Graphics</h2><p class=\"lead\">Average, 10&#160;% low "
         "and 1&#160;% low frame rates of the four scenes. Higher is better.</p>";
    if (!inv.score.gpu.empty()) {
        h += "<div class=\"scenes\">";
        for (const GpuTestResult& g : inv.score.gpu) {
            if (!sceneById(g.id)) continue;
            h += "<div class=\"tile\"><div class=\"label\"><i class=\"dot avg\"></i>" +
                 sceneTitle(g.id, "") + "</div>";
            h += "<p class=\"value\" data-figure=\"" + std::string(kFigureColumns[sceneAverageFigure(g.id)]) + "\">" +
                 grouped(g.average) + "<small>FPS</small></p>";
            h += "<p class=\"note\">10&#160;% low " + grouped(g.ten_percent) + " \xC2\xB7 1&#160;% low " +
                 grouped(g.one_percent) + "</p>";
            h += rankBar(r.figures, r.standing, sceneAverageFigure(g.id)) + "</div>";
        }
        h += "</div>";
    }
    h += gpuChart(inv.score.gpu);
    h += "</section>";

    // The machine.
    const ProcessorInfo& p = inv.processor;
    h += "<section class=\"card\" id=\"machine\"><h2>The machine</h2><div class=\"specs\">";
    h += "<div class=\"part\"><h3>Processor</h3><p>" + processor + "</p><p>";
    std::string line;
    auto add = [&line](const std::string& part) {
        if (!part.empty()) line += (line.empty() ? "" : " \xC2\xB7 ") + part;
    };
    add(htmlEscape(p.manufacturer));
    if (p.core_count) add(std::to_string(p.core_count) + (p.core_count == 1 ? " core" : " cores"));
    if (p.thread_count) add(std::to_string(p.thread_count) + (p.thread_count == 1 ? " thread" : " threads"));
    if (p.clock_speed) add(fixed(p.clock_speed / 1000.0, 2) + " GHz");
    h += line + "</p><p>";
    line.clear();
    if (p.l2_cache) add("L2 " + cacheText(p.l2_cache));
    if (p.l3_cache) add("L3 " + cacheText(p.l3_cache));
    if (!p.socket.empty()) add("Socket " + htmlEscape(p.socket));
    h += line + "</p></div>";

    h += "<div class=\"part\"><h3>Memory</h3><p>" + memoryText(inv.computer_system.total_physical_memory) +
         "</p><p>Installed physical memory</p></div>";

    h += "<div class=\"part\"><h3>Graphics</h3>";
    for (const VideoControllerInfo& c : inv.video_controllers) {
        h += "<div class=\"gpu\"><p>" + orUnknown(c.name) + "</p>";
        line.clear();
        if (!c.description.empty() && c.description != c.name) add(htmlEscape(c.description));
        if (!c.driver_version.empty()) add("Driver " + htmlEscape(c.driver_version));
        if (!line.empty()) h += "<p>" + line + "</p>";
        h += "</div>";
    }
    h += "<div class=\"gpu\"><p>OpenGL: " + orUnknown(inv.gl_gpu.renderer) + "</p>";
    if (!inv.gl_gpu.vendor.empty()) h += "<p>" + htmlEscape(inv.gl_gpu.vendor) + "</p>";
    h += "</div></div>";

    h += "<div class=\"part\"><h3>System</h3><p>";
    line.clear();
    add(htmlEscape(inv.computer_system.manufacturer));
    add(htmlEscape(inv.computer_system.model));
    h += (line.empty() ? "Unknown" : line) + "</p><p>";
    line.clear();
    add(formFactorText(inv.computer_system.form_factor));
    add(htmlEscape(inv.windows_version));
    h += line + "</p></div>";

    h += "<div class=\"part\"><h3>Screen</h3><p>" + std::to_string(inv.width) + " \xC3\x97 " +
         std::to_string(inv.height) + " pixels</p><p>Primary monitor</p></div>";
    h += "</div></section>";
    h += historySection(r.history);
    h += compareSection(r.id, r.models);

    h += "<footer><span>Result <code>" + r.id + "</code></span><span>Checksum matched: the document arrived undamaged</span>"
         "<a href=\"/api/benchmarks/" + r.id + "\">Download as JSON</a>"
         "<a href=\"/methodology\">How we measure</a><a href=\"/benchmarks\">Recent results</a></footer>";
    h += "</main>";
    h += kPageEnd;
    return h;
}

std::string renderNotFoundPage() {
    std::string h = pageHead("Result not found \xC2\xB7 Tallyforge Benchmark", "");
    h += "<main class=\"wrap message\"><h1>We could not find that result</h1>"
         "<p>The address may be incomplete, or the result was never stored.</p>"
         "<p><a href=\"/benchmarks\">See the recent results</a></p></main>";
    h += kPageEnd;
    return h;
}

std::string renderErrorPage() {
    std::string h = pageHead("Something went wrong \xC2\xB7 Tallyforge Benchmark", "");
    h += "<main class=\"wrap message\"><h1>Something went wrong on our side</h1>"
         "<p>Please try again in a moment.</p><p><a href=\"/benchmarks\">See the recent results</a></p></main>";
    h += kPageEnd;
    return h;
}

std::string renderUnavailablePage() {
    std::string h = pageHead("Back in a moment \xC2\xB7 Tallyforge Benchmark", "");
    h += "<main class=\"wrap message\"><h1>The results are out of reach for a moment</h1>"
         "<p>Our database is not answering just now. Please try again in a few seconds.</p></main>";
    h += kPageEnd;
    return h;
}
