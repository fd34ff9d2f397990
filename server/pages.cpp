#include "server/pages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include "server/page_parts.h"

namespace {

// Kept in one piece: the Content-Security-Policy allows exactly this text by its hash.
constexpr const char* kStyle = R"css(
:root{color-scheme:dark;--bg:#0a0f1e;--card:#11182b;--card2:#151e36;--line:#243052;--text:#e8edf7;--muted:#8e9bb7;
--soft:#cdd5e6;--link:#a5b4fc;--track:#25304d;--grid:#223052;--code:#c7d2fe;--focus:#fde047;
--int:#38bdf8;--float:#fbbf24;--avg:#38bdf8;--p10:#fde68a;--p1:#e11d48;--accent:#818cf8}
@media (prefers-color-scheme:light){:root{color-scheme:light;--bg:#f4f6fb;--card:#ffffff;--card2:#f8f9fc;--line:#d5dbe8;--text:#111827;--muted:#4b5563;
--soft:#374151;--link:#3730a3;--track:#e2e6f0;--grid:#e5e9f2;--code:#3730a3;--focus:#1d4ed8;
--int:#1d4ed8;--float:#c2410c;--avg:#0369a1;--p10:#d97706;--p1:#831843;--accent:#4f46e5}}
*{box-sizing:border-box}
html{background:var(--bg)}
body{margin:0;color:var(--text);background:var(--bg);
font:15px/1.55 "Segoe UI","Open Sans",system-ui,-apple-system,Roboto,"Helvetica Neue",Arial,sans-serif;min-height:100vh}
a{color:var(--link);text-decoration:none}a:hover,a:focus-visible{text-decoration:underline}
a:focus-visible,summary:focus-visible{outline:3px solid var(--focus);outline-offset:3px;border-radius:4px}
.wrap{max-width:1080px;margin:0 auto;padding:0 28px}
.top{border-bottom:1px solid var(--line)}
.top .wrap{display:flex;align-items:center;justify-content:space-between;height:60px}
.brand{display:flex;align-items:center;gap:10px;color:var(--text);font-weight:700;letter-spacing:.2px;font-size:16px}
.brand svg{width:28px;height:28px}
.top nav a{color:var(--muted);font-size:14px}
.hero{padding:38px 0 8px}
.eyebrow{margin:0 0 6px;color:var(--muted);font-size:13px;letter-spacing:.08em;text-transform:uppercase}
h1{margin:0;font-size:34px;line-height:1.2;font-weight:700;letter-spacing:-.3px;overflow-wrap:anywhere}
.sub{margin:8px 0 0;color:var(--soft);font-size:16px;overflow-wrap:anywhere}
.tiles{display:grid;grid-template-columns:repeat(4,1fr);gap:14px;margin:26px 0 0}
.tile{background:var(--card2);border:1px solid var(--line);border-radius:14px;padding:16px 16px 14px}
.tile .label{display:flex;align-items:center;gap:8px;color:var(--muted);font-size:13px}
.dot{width:9px;height:9px;border-radius:50%;display:inline-block}
.dot.int{background:var(--int)}.dot.float{background:var(--float)}.dot.avg{background:var(--avg)}
.tile .value{font-size:30px;font-weight:700;margin:4px 0 0;font-variant-numeric:tabular-nums;letter-spacing:-.5px}
.tile .value small{font-size:14px;font-weight:600;color:var(--muted);margin-left:4px;letter-spacing:0}
.tile .note{color:var(--muted);font-size:12.5px;margin:0}
.rank{margin:12px 0 0}
.rank svg{display:block;width:100%;height:6px}
.rank .track{fill:var(--track)}.rank .fill{fill:var(--accent)}
.rank p{margin:6px 0 0;font-size:13px;color:var(--soft)}
.card{background:var(--card);border:1px solid var(--line);border-radius:16px;padding:22px 24px;margin:22px 0}
.card h2{margin:0;font-size:19px}
.card .lead{margin:2px 0 14px;color:var(--muted);font-size:13.5px}
.chart{display:block;width:100%;height:auto}
.chart .grid{stroke:var(--grid);stroke-width:1}
.chart .axis{fill:var(--muted);font-size:12px}
.chart .title{fill:var(--muted);font-size:12px}
.chart .value{fill:var(--text);font-size:12px;font-weight:600}
.chart .s-int{stroke:var(--int);fill:none;stroke-width:3;stroke-linejoin:round;stroke-linecap:round}
.chart .s-float{stroke:var(--float);fill:none;stroke-width:3;stroke-linejoin:round;stroke-linecap:round;stroke-dasharray:9 6}
.chart .a-int{fill:var(--int);opacity:.12}.chart .a-float{fill:var(--float);opacity:.12}
.chart .p-int{fill:var(--bg);stroke:var(--int);stroke-width:2.5}
.chart .p-float{fill:var(--bg);stroke:var(--float);stroke-width:2.5}
.chart .b-avg{fill:var(--avg)}.chart .b-p10{fill:var(--p10)}.chart .b-p1{fill:var(--p1)}
.chart .scene{fill:var(--text);font-size:13px;font-weight:600}
.legend{display:flex;flex-wrap:wrap;gap:16px;margin:0 0 6px;color:var(--soft);font-size:13px}
.legend span{display:flex;align-items:center;gap:7px}
.sw{width:12px;height:12px;border-radius:3px;display:inline-block}
.sw.line{height:4px;border-radius:2px}.sw.float.line{background:repeating-linear-gradient(90deg,var(--float) 0 5px,transparent 5px 8px)}
.sw.int{background:var(--int)}.sw.float{background:var(--float)}.sw.avg{background:var(--avg)}.sw.p10{background:var(--p10)}.sw.p1{background:var(--p1)}
.scenes{display:grid;grid-template-columns:repeat(4,1fr);gap:12px;margin:0 0 16px}
.scenes .tile{padding:13px 14px}
.scenes .value{font-size:24px}
.specs{display:grid;grid-template-columns:repeat(2,1fr);gap:12px;margin:14px 0 0}
.part{background:var(--card2);border:1px solid var(--line);border-radius:12px;padding:13px 15px}
.part h3{margin:0 0 4px;font-size:12px;letter-spacing:.08em;text-transform:uppercase;color:var(--muted);font-weight:600}
.part p{margin:0;overflow-wrap:anywhere}.part p+p{color:var(--muted);font-size:13.5px}
.part .gpu+.gpu{margin-top:8px}
.empty{color:var(--muted);margin:8px 0}
footer{color:var(--muted);font-size:13px;padding:8px 0 40px;display:flex;flex-wrap:wrap;gap:6px 18px}
code{font-family:ui-monospace,"DejaVu Sans Mono",Menlo,Consolas,monospace;font-size:12.5px;color:var(--code)}
table{width:100%;border-collapse:collapse;font-size:14px}
th{text-align:left;color:var(--muted);font-weight:600;font-size:12px;letter-spacing:.06em;text-transform:uppercase;padding:8px 10px;border-bottom:1px solid var(--line)}
td,tbody th{padding:10px;border-bottom:1px solid var(--line);vertical-align:top;overflow-wrap:anywhere}
td.num,th.num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
tr:hover td{background:rgba(129,140,248,.05)}
.muted{color:var(--muted)}
.message{text-align:center;padding:90px 0 60px}
.message h1{font-size:30px}.message p{color:var(--soft)}
.data{margin:14px 0 0}
.data summary{cursor:pointer;color:var(--link);font-size:14px;width:max-content;max-width:100%}
.data table{margin:8px 0 0}.data caption{text-align:left;color:var(--muted);font-size:13px;padding:0 0 4px}
.data tbody th{text-align:left;color:var(--text);font-size:14px;font-weight:600;letter-spacing:0;text-transform:none}
@media (max-width:820px){.tiles,.scenes{grid-template-columns:repeat(2,1fr)}.specs{grid-template-columns:1fr}h1{font-size:26px}}
@media (max-width:560px){.wrap{padding:0 14px}.card{padding:16px 14px}.tiles,.scenes{gap:10px}.tile{padding:12px}.tile .value{font-size:24px}
.chart .axis,.chart .title,.chart .value,.chart .scene{font-size:24px}}
)css";

constexpr const char* kLogo =
    R"svg(<svg viewBox="0 0 28 28" aria-hidden="true"><defs><linearGradient id="lg" x1="0" y1="0" x2="1" y2="1">)svg"
    R"svg(<stop offset="0" stop-color="#818cf8"/><stop offset="1" stop-color="#38bdf8"/></linearGradient></defs>)svg"
    R"svg(<rect width="28" height="28" rx="7" fill="url(#lg)"/>)svg"
    R"svg(<rect x="6" y="15" width="4" height="7" rx="1.5" fill="#0a0f1e"/>)svg"
    R"svg(<rect x="12" y="10" width="4" height="12" rx="1.5" fill="#0a0f1e"/>)svg"
    R"svg(<rect x="18" y="6" width="4" height="16" rx="1.5" fill="#0a0f1e"/></svg>)svg";

std::string fmt(double v, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
    return buffer;
}

// 1234567 -> "1,234,567"
std::string grouped(std::uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// Axis labels: 950, 12k, 12.5k, 1.2M
std::string compact(double v) {
    auto trimmed = [](double x, const char* unit) {
        std::string s = fmt(x, x < 10 && x != std::floor(x) ? 1 : 0);
        if (x >= 10 && x != std::floor(x)) s = fmt(x, 1);
        if (s.size() > 2 && s.substr(s.size() - 2) == ".0") s.resize(s.size() - 2);
        return s + unit;
    };
    if (v >= 1e9) return trimmed(v / 1e9, "G");
    if (v >= 1e6) return trimmed(v / 1e6, "M");
    if (v >= 1e4) return trimmed(v / 1e3, "k");
    return grouped(std::uint64_t(v));
}

// A round step so that about `ticks` steps cover the maximum.
double niceStep(double maximum, int ticks) {
    if (maximum <= 0) return 1;
    const double raw = maximum / ticks;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (raw <= m * magnitude) return std::max(1.0, m * magnitude);
    }
    return 10 * magnitude;
}

std::string dateOf(std::int64_t ms) {
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    static const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%d %s %d, %02d:%02d UTC", tm.tm_mday, months[tm.tm_mon],
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
    return buffer;
}

std::string shortDateOf(std::int64_t ms) {
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &tm);
    return buffer;
}

std::string memoryText(std::uint64_t bytes) {
    if (bytes == 0) return "Unknown";
    const double gib = double(bytes) / (1024.0 * 1024.0 * 1024.0);
    if (gib < 1) return fmt(double(bytes) / (1024.0 * 1024.0), 0) + " MiB";
    std::string s = fmt(gib, 1);
    if (s.substr(s.size() - 2) == ".0") s.resize(s.size() - 2);
    return s + " GiB";
}

std::string cacheText(std::uint32_t kb) {
    if (kb >= 1024 && kb % 1024 == 0) return std::to_string(kb / 1024) + " MB";
    if (kb >= 1024) return fmt(kb / 1024.0, 1) + " MB";
    return std::to_string(kb) + " KB";
}

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

// The stylesheet of every page, the checks' and the methodology page's rules included.
const std::string& pageStyle() {
    static const std::string style = std::string(kStyle) + kExtraStyle + kModelStyle + kBrowseStyle;
    return style;
}

std::string pageHead(const std::string& title, const std::string& description) {
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
    s += "<rect class=\"fill\" width=\"" + fmt(std::max(2.0, 100.0 * share), 1) +
         "\" height=\"6\" rx=\"3\"/></svg>";
    s += "<p>" + sentence + "</p></div>";
    return s;
}

// Horizontal grid lines from 0 to the chart's top, each labelled with its value on the left.
template <class ToY>
std::string gridLines(double top, double step, double left, double right, ToY y) {
    std::string s;
    for (double v = 0; v <= top + step / 2; v += step) {
        s += "<line class=\"grid\" x1=\"" + fmt(left, 0) + "\" x2=\"" + fmt(right, 0) + "\" y1=\"" +
             fmt(y(v), 1) + "\" y2=\"" + fmt(y(v), 1) + "\"/>";
        s += "<text class=\"axis\" x=\"" + fmt(left - 12, 0) + "\" y=\"" + fmt(y(v) + 4, 1) +
             "\" text-anchor=\"end\">" + compact(v) + "</text>";
    }
    return s;
}

std::string threadsText(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " thread" : " threads"); }

// What the processor chart shows, in words: each kernel's best and its one-thread score.
std::string cpuSummary(const StageResults& score) {
    std::string text;
    for (const auto& [list, name] : {std::pair{&score.cpu_integer, "Integer"}, std::pair{&score.cpu_float, "Floating point"}}) {
        if (list->empty()) continue;
        const auto best = std::max_element(list->begin(), list->end(),
                                           [](const CpuTestResult& a, const CpuTestResult& b) { return a.score < b.score; });
        text += std::string(name) + ": best " + grouped(best->score) + " at " + threadsText(best->thread_count) + ", " +
                grouped(list->front().score) + " at " + threadsText(list->front().thread_count) + ". ";
    }
    return text + "Every score is in the table below the chart.";
}

// What the graphics chart shows, in words: each scene's average frame rate.
std::string gpuSummaryText(const std::vector<GpuTestResult>& gpu) {
    std::string text = "Average frame rates: ";
    for (std::size_t i = 0; i < gpu.size(); ++i) {
        const std::string scene = sceneTitle(gpu[i].id, "Scene");
        text += (i ? ", " : "") + scene + " " + grouped(gpu[i].average) + " FPS";
    }
    return text + ". The 10&#160;% and 1&#160;% lows are in the table below the chart.";
}

// A chart's figures as a table, folded away under the chart.
std::string dataTable(const std::string& id, const std::string& summary, const std::string& caption,
                      const std::vector<std::string>& columns, const std::vector<std::vector<std::string>>& rows) {
    std::string s = "<details class=\"data\"><summary>" + summary + "</summary><table id=\"" + id + "\"><caption>" +
                    caption + "</caption><thead><tr>";
    for (std::size_t c = 0; c < columns.size(); ++c) {
        s += std::string("<th scope=\"col\"") + (c ? " class=\"num\"" : "") + ">" + columns[c] + "</th>";
    }
    s += "</tr></thead><tbody>";
    for (const auto& row : rows) {
        s += "<tr><th scope=\"row\">" + row.front() + "</th>";
        for (std::size_t c = 1; c < row.size(); ++c) s += "<td class=\"num\">" + row[c] + "</td>";
        s += "</tr>";
    }
    return s + "</tbody></table></details>";
}

std::string cpuTable(const StageResults& score) {
    const std::size_t n = std::max(score.cpu_integer.size(), score.cpu_float.size());
    std::vector<std::vector<std::string>> rows;
    auto cell = [](const std::vector<CpuTestResult>& list, std::size_t i) {
        return i < list.size() ? grouped(list[i].score) : std::string("&#8212;");
    };
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t threads = i < score.cpu_integer.size() ? score.cpu_integer[i].thread_count
                                                                    : score.cpu_float[i].thread_count;
        rows.push_back({std::to_string(threads), cell(score.cpu_integer, i), cell(score.cpu_float, i)});
    }
    return dataTable("cpu-table", "Processor scores as a table", "Score of each kernel at each thread count",
                     {"Threads", "Integer", "Floating point"}, rows);
}

std::string gpuTable(const std::vector<GpuTestResult>& gpu) {
    std::vector<std::vector<std::string>> rows;
    for (const GpuTestResult& g : gpu) {
        rows.push_back({sceneTitle(g.id, "Scene " + std::to_string(g.id)),
                        grouped(g.average), grouped(g.ten_percent), grouped(g.one_percent)});
    }
    return dataTable("gpu-table", "Frame rates as a table", "Frames per second of each scene",
                     {"Scene", "Average", "10&#160;% low", "1&#160;% low"}, rows);
}

// Score against thread count, one line per kernel.
std::string cpuChart(const StageResults& score) {
    const std::size_t n = std::max(score.cpu_integer.size(), score.cpu_float.size());
    if (n == 0) return "<p class=\"empty\">This result has no processor scores.</p>";
    const double W = 1000, H = 360, L = 70, R = 28, T = 24, B = 58;
    const double plotW = W - L - R, plotH = H - T - B;
    double maxValue = 0;
    for (const auto* list : {&score.cpu_integer, &score.cpu_float}) {
        for (const CpuTestResult& r : *list) maxValue = std::max(maxValue, double(r.score));
    }
    const double step = niceStep(maxValue * 1.08, 5);
    const double top = std::max(step, std::ceil(maxValue * 1.08 / step) * step);
    auto x = [&](std::size_t i) { return n == 1 ? L + plotW / 2 : L + plotW * double(i) / double(n - 1); };
    auto y = [&](double v) { return T + plotH - plotH * v / top; };

    std::string s = "<div class=\"legend\" aria-hidden=\"true\"><span><i class=\"sw line int\"></i>Integer (permutation flipping), solid line</span>"
                    "<span><i class=\"sw line float\"></i>Floating point (five-body), dashed line</span></div>";
    s += "<svg id=\"cpu-chart\" class=\"chart\" viewBox=\"0 0 " + fmt(W, 0) + " " + fmt(H, 0) +
         "\" role=\"img\" aria-labelledby=\"cpu-chart-title cpu-chart-desc\">";
    s += "<title id=\"cpu-chart-title\">Processor score against thread count</title>";
    s += "<desc id=\"cpu-chart-desc\">" + cpuSummary(score) + "</desc>";
    s += gridLines(top, step, L, W - R, y);
    for (std::size_t i = 0; i < n; ++i) {
        s += "<text class=\"axis\" x=\"" + fmt(x(i), 1) + "\" y=\"" + fmt(H - B + 22, 0) +
             "\" text-anchor=\"middle\">" + std::to_string(kThreadCounts[i]) + "</text>";
    }
    s += "<text class=\"title\" x=\"" + fmt(L + plotW / 2, 0) + "\" y=\"" + fmt(H - 8, 0) +
         "\" text-anchor=\"middle\">Threads</text>";
    s += "<text class=\"title\" transform=\"translate(16 " + fmt(T + plotH / 2, 0) +
         ") rotate(-90)\" text-anchor=\"middle\">Score</text>";

    struct Series {
        const std::vector<CpuTestResult>* list;
        const char* cls;
        const char* name;
    };
    for (const Series& series : {Series{&score.cpu_integer, "int", "Integer"},
                                 Series{&score.cpu_float, "float", "Floating point"}}) {
        const auto& list = *series.list;
        if (list.empty()) continue;
        std::string points;
        for (std::size_t i = 0; i < list.size(); ++i) {
            points += (i ? " " : "") + fmt(x(i), 1) + "," + fmt(y(double(list[i].score)), 1);
        }
        const std::string area = fmt(x(0), 1) + "," + fmt(y(0), 1) + " " + points + " " +
                                 fmt(x(list.size() - 1), 1) + "," + fmt(y(0), 1);
        s += "<polygon class=\"a-" + std::string(series.cls) + "\" points=\"" + area + "\"/>";
        s += "<polyline class=\"s-" + std::string(series.cls) + "\" data-series=\"" + series.cls +
             "\" points=\"" + points + "\"/>";
        std::size_t best = 0;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].score > list[best].score) best = i;
            s += "<circle class=\"p-" + std::string(series.cls) + "\" cx=\"" + fmt(x(i), 1) +
                 "\" cy=\"" + fmt(y(double(list[i].score)), 1) + "\" r=\"4.5\"><title>" + series.name +
                 ", " + std::to_string(list[i].thread_count) + (list[i].thread_count == 1 ? " thread: " : " threads: ") +
                 grouped(list[i].score) + "</title></circle>";
        }
        s += "<text class=\"value\" x=\"" + fmt(x(best), 1) + "\" y=\"" +
             fmt(y(double(list[best].score)) - 12, 1) + "\" text-anchor=\"" +
             (best + 1 == n && n > 1 ? "end" : "middle") + "\">" + grouped(list[best].score) + "</text>";
    }
    s += "</svg>";
    return s + cpuTable(score);
}

// The three frame rates of each scene as grouped bars.
std::string gpuChart(const std::vector<GpuTestResult>& gpu) {
    if (gpu.empty()) return "<p class=\"empty\">This result has no graphics scores.</p>";
    const double W = 1000, H = 340, L = 64, R = 16, T = 26, B = 50;
    const double plotW = W - L - R, plotH = H - T - B;
    double maxValue = 0;
    for (const GpuTestResult& r : gpu) {
        maxValue = std::max({maxValue, double(r.average), double(r.ten_percent), double(r.one_percent)});
    }
    const double step = niceStep(maxValue * 1.1, 5);
    const double top = std::max(step, std::ceil(maxValue * 1.1 / step) * step);
    auto y = [&](double v) { return T + plotH - plotH * std::min(v, top) / top; };

    std::string s = "<div class=\"legend\" aria-hidden=\"true\"><span><i class=\"sw avg\"></i>Average (left bar)</span>"
                    "<span><i class=\"sw p10\"></i>10&#160;% low (middle bar)</span>"
                    "<span><i class=\"sw p1\"></i>1&#160;% low (right bar)</span></div>";
    s += "<svg id=\"gpu-chart\" class=\"chart\" viewBox=\"0 0 " + fmt(W, 0) + " " + fmt(H, 0) +
         "\" role=\"img\" aria-labelledby=\"gpu-chart-title gpu-chart-desc\">";
    s += "<title id=\"gpu-chart-title\">Frame rates of the four scenes</title>";
    s += "<desc id=\"gpu-chart-desc\">" + gpuSummaryText(gpu) + "</desc>";
    s += gridLines(top, step, L, W - R, y);
    s += "<text class=\"title\" transform=\"translate(16 " + fmt(T + plotH / 2, 0) +
         ") rotate(-90)\" text-anchor=\"middle\">Frames per second</text>";
    const double groupW = plotW / 4;
    const double barW = std::min(52.0, groupW * 0.24), gap = 8;
    for (std::size_t g = 0; g < gpu.size(); ++g) {
        const GpuTestResult& r = gpu[g];
        const double centre = L + groupW * (double(g) + 0.5);
        const std::uint64_t values[3] = {r.average, r.ten_percent, r.one_percent};
        const char* classes[3] = {"b-avg", "b-p10", "b-p1"};
        const char* names[3] = {"average", "10 % low", "1 % low"};
        const std::string scene = sceneTitle(r.id, "Scene");
        for (int k = 0; k < 3; ++k) {
            const double bx = centre - (3 * barW + 2 * gap) / 2 + k * (barW + gap);
            const double by = y(double(values[k]));
            const double bh = std::max(1.0, T + plotH - by);
            s += "<rect class=\"" + std::string(classes[k]) + "\" data-scene=\"" + std::to_string(r.id) +
                 "\" x=\"" + fmt(bx, 1) + "\" y=\"" + fmt(T + plotH - bh, 1) + "\" width=\"" +
                 fmt(barW, 1) + "\" height=\"" + fmt(bh, 1) + "\" rx=\"4\"><title>" + scene + ", " +
                 names[k] + ": " + grouped(values[k]) + " FPS</title></rect>";
            s += "<text class=\"value\" x=\"" + fmt(bx + barW / 2, 1) + "\" y=\"" +
                 fmt(T + plotH - bh - 7, 1) + "\" text-anchor=\"middle\">" + grouped(values[k]) + "</text>";
        }
        s += "<text class=\"scene\" x=\"" + fmt(centre, 1) + "\" y=\"" + fmt(H - B + 26, 0) +
             "\" text-anchor=\"middle\">" + scene + "</text>";
    }
    s += "</svg>";
    return s + gpuTable(gpu);
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
               "'; img-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
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

    std::string h = pageHead(processor + " \xC2\xB7 Tallyforge Benchmark result", description);
    h += "<main class=\"wrap\" data-result=\"" + r.id + "\">";

    h += "<section class=\"hero\"><p class=\"eyebrow\">Benchmark result \xC2\xB7 " + dateOf(r.receivedAtMs) + "</p>";
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
    if (p.clock_speed) add(fmt(p.clock_speed / 1000.0, 2) + " GHz");
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

std::string renderRecentPage(const std::vector<RecentView>& results, std::int64_t totalStored) {
    std::string h = pageHead("Recent results \xC2\xB7 Tallyforge Benchmark",
                             "The latest results of the Tallyforge Benchmark.");
    h += "<main class=\"wrap\"><section class=\"hero\"><p class=\"eyebrow\">" + grouped(std::uint64_t(totalStored)) +
         (totalStored == 1 ? " result stored" : " results stored") + "</p><h1>Recent results</h1></section>";
    h += "<section class=\"card\">";
    if (results.empty()) {
        h += "<p class=\"empty\">No results yet. Run the Tallyforge Benchmark to add the first one.</p>";
    } else {
        h += "<table id=\"recent\"><thead><tr><th>Submitted</th><th>Processor</th><th>Graphics</th>"
             "<th class=\"num\">Integer</th><th class=\"num\">Floating point</th><th class=\"num\">Average FPS</th>"
             "</tr></thead><tbody>";
        for (const RecentView& r : results) {
            const RankFigures f = rankFiguresOf(r.inventory.score);
            std::uint64_t fpsSum = 0;
            for (const GpuTestResult& g : r.inventory.score.gpu) fpsSum += g.average;
            const auto figure = [&](std::size_t i) {
                return f.values[i] ? grouped(std::uint64_t(*f.values[i])) : std::string("&#8212;");
            };
            h += "<tr><td class=\"muted\">" + shortDateOf(r.receivedAtMs) + "</td>";
            h += "<td><a href=\"/benchmarks/" + r.id + "\">" +
                 orUnknown(r.inventory.processor.name, "Unknown processor") + "</a></td>";
            h += "<td>" + htmlEscape(gpuSummary(r.inventory)) + "</td>";
            h += "<td class=\"num\">" + figure(1) + "</td><td class=\"num\">" + figure(3) + "</td>";
            h += "<td class=\"num\">" +
                 (r.inventory.score.gpu.empty() ? std::string("&#8212;")
                                                : grouped(fpsSum / r.inventory.score.gpu.size())) +
                 "</td></tr>";
        }
        h += "</tbody></table>";
    }
    h += "</section></main>";
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
