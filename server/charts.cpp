#include "server/charts.h"

#include <algorithm>
#include <cmath>

#include "core/protocol.h"
#include "server/format.h"
#include "server/page_parts.h"
#include "server/pages.h"

namespace {

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

// Horizontal grid lines from 0 to the chart's top, each labelled with its value on the left.
template <class ToY>
std::string gridLines(double top, double step, double left, double right, ToY y) {
    std::string s;
    for (double v = 0; v <= top + step / 2; v += step) {
        s += "<line class=\"grid\" x1=\"" + fixed(left, 0) + "\" x2=\"" + fixed(right, 0) + "\" y1=\"" +
             fixed(y(v), 1) + "\" y2=\"" + fixed(y(v), 1) + "\"/>";
        s += "<text class=\"axis\" x=\"" + fixed(left - 12, 0) + "\" y=\"" + fixed(y(v) + 4, 1) +
             "\" text-anchor=\"end\">" + compactNumber(v) + "</text>";
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

}  // namespace

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
    s += "<svg id=\"cpu-chart\" class=\"chart\" viewBox=\"0 0 " + fixed(W, 0) + " " + fixed(H, 0) +
         "\" role=\"img\" aria-labelledby=\"cpu-chart-title cpu-chart-desc\">";
    s += "<title id=\"cpu-chart-title\">Processor score against thread count</title>";
    s += "<desc id=\"cpu-chart-desc\">" + cpuSummary(score) + "</desc>";
    s += gridLines(top, step, L, W - R, y);
    for (std::size_t i = 0; i < n; ++i) {
        s += "<text class=\"axis\" x=\"" + fixed(x(i), 1) + "\" y=\"" + fixed(H - B + 22, 0) +
             "\" text-anchor=\"middle\">" + std::to_string(kThreadCounts[i]) + "</text>";
    }
    s += "<text class=\"title\" x=\"" + fixed(L + plotW / 2, 0) + "\" y=\"" + fixed(H - 8, 0) +
         "\" text-anchor=\"middle\">Threads</text>";
    s += "<text class=\"title\" transform=\"translate(16 " + fixed(T + plotH / 2, 0) +
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
            points += (i ? " " : "") + fixed(x(i), 1) + "," + fixed(y(double(list[i].score)), 1);
        }
        const std::string area = fixed(x(0), 1) + "," + fixed(y(0), 1) + " " + points + " " +
                                 fixed(x(list.size() - 1), 1) + "," + fixed(y(0), 1);
        s += "<polygon class=\"a-" + std::string(series.cls) + "\" points=\"" + area + "\"/>";
        s += "<polyline class=\"s-" + std::string(series.cls) + "\" data-series=\"" + series.cls +
             "\" points=\"" + points + "\"/>";
        std::size_t best = 0;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].score > list[best].score) best = i;
            s += "<circle class=\"p-" + std::string(series.cls) + "\" cx=\"" + fixed(x(i), 1) +
                 "\" cy=\"" + fixed(y(double(list[i].score)), 1) + "\" r=\"4.5\"><title>" + series.name +
                 ", " + std::to_string(list[i].thread_count) + (list[i].thread_count == 1 ? " thread: " : " threads: ") +
                 grouped(list[i].score) + "</title></circle>";
        }
        s += "<text class=\"value\" x=\"" + fixed(x(best), 1) + "\" y=\"" +
             fixed(y(double(list[best].score)) - 12, 1) + "\" text-anchor=\"" +
             (best + 1 == n && n > 1 ? "end" : "middle") + "\">" + grouped(list[best].score) + "</text>";
    }
    s += "</svg>";
    return s + cpuTable(score);
}

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
    s += "<svg id=\"gpu-chart\" class=\"chart\" viewBox=\"0 0 " + fixed(W, 0) + " " + fixed(H, 0) +
         "\" role=\"img\" aria-labelledby=\"gpu-chart-title gpu-chart-desc\">";
    s += "<title id=\"gpu-chart-title\">Frame rates of the four scenes</title>";
    s += "<desc id=\"gpu-chart-desc\">" + gpuSummaryText(gpu) + "</desc>";
    s += gridLines(top, step, L, W - R, y);
    s += "<text class=\"title\" transform=\"translate(16 " + fixed(T + plotH / 2, 0) +
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
                 "\" x=\"" + fixed(bx, 1) + "\" y=\"" + fixed(T + plotH - bh, 1) + "\" width=\"" +
                 fixed(barW, 1) + "\" height=\"" + fixed(bh, 1) + "\" rx=\"4\"><title>" + scene + ", " +
                 names[k] + ": " + grouped(values[k]) + " FPS</title></rect>";
            s += "<text class=\"value\" x=\"" + fixed(bx + barW / 2, 1) + "\" y=\"" +
                 fixed(T + plotH - bh - 7, 1) + "\" text-anchor=\"middle\">" + grouped(values[k]) + "</text>";
        }
        s += "<text class=\"scene\" x=\"" + fixed(centre, 1) + "\" y=\"" + fixed(H - B + 26, 0) +
             "\" text-anchor=\"middle\">" + scene + "</text>";
    }
    s += "</svg>";
    return s + gpuTable(gpu);
}

std::string histogramChart(const std::vector<std::int64_t>& values, const char* unit) {
    if (values.empty()) return "<p class=\"empty\">No ranked results of this figure yet.</p>";
    const double W = 1000, H = 300, L = 56, R = 20, T = 20, B = 50;
    const std::int64_t lo = values.front(), hi = values.back();
    const std::size_t bins = hi == lo ? 1 : std::min<std::size_t>(20, values.size() < 4 ? 4 : 20);
    const double width = hi == lo ? 1.0 : double(hi - lo) / double(bins);
    std::vector<std::size_t> counts(bins, 0);
    for (std::int64_t v : values) {
        std::size_t b = hi == lo ? 0 : std::size_t(double(v - lo) / width);
        counts[std::min(b, bins - 1)]++;
    }
    const double most = double(*std::max_element(counts.begin(), counts.end()));
    const double plotW = W - L - R, plotH = H - T - B;
    const double step = niceStep(most, 4);
    const double top = std::max(step, std::ceil(most / step) * step);
    auto y = [&](double v) { return T + plotH - plotH * v / top; };
    std::string s = "<svg id=\"histogram\" class=\"chart\" viewBox=\"0 0 1000 300\" role=\"img\" aria-label=\"How many "
                    "results reach each score\">";
    s += gridLines(top, step, L, W - R, y);
    const double bw = plotW / double(bins);
    for (std::size_t b = 0; b < bins; ++b) {
        const std::int64_t from = lo + std::int64_t(std::llround(width * double(b)));
        s += "<rect class=\"b-avg\" x=\"" + fixed(L + bw * double(b) + 2, 1) + "\" y=\"" + fixed(y(double(counts[b])), 1) +
             "\" width=\"" + fixed(std::max(1.0, bw - 4), 1) + "\" height=\"" + fixed(T + plotH - y(double(counts[b])), 1) +
             "\"><title>" + std::to_string(counts[b]) + " from " + grouped(from) + unit + "</title></rect>";
    }
    for (const auto& [at, v] : {std::pair{0.0, lo}, std::pair{1.0, hi}}) {
        s += "<text class=\"axis\" x=\"" + fixed(L + plotW * at, 1) + "\" y=\"" + fixed(H - B + 20, 0) + "\" text-anchor=\"" +
             (at == 0.0 ? "start" : "end") + "\">" + grouped(v) + unit + "</text>";
    }
    s += "<text class=\"title\" x=\"" + fixed(L + plotW / 2, 0) + "\" y=\"" + fixed(H - 8, 0) +
         "\" text-anchor=\"middle\">Score (number of results per bar on the left)</text></svg>";
    return s;
}

std::string compareCpuChart(const char* title, const std::vector<CpuTestResult>& a,
                            const std::vector<CpuTestResult>& b) {
    const std::size_t n = std::max(a.size(), b.size());
    if (n == 0) return {};
    double maxValue = 0;
    for (const auto* list : {&a, &b}) {
        for (const CpuTestResult& r : *list) maxValue = std::max(maxValue, double(r.score));
    }
    const double W = 1000, H = 300, L = 70, R = 24, T = 20, B = 50;
    const double plotW = W - L - R, plotH = H - T - B;
    const double step = niceStep(maxValue * 1.08, 4);
    const double top = std::max(step, std::ceil(maxValue * 1.08 / step) * step);
    auto x = [&](std::size_t i) { return n == 1 ? L + plotW / 2 : L + plotW * double(i) / double(n - 1); };
    auto y = [&](double v) { return T + plotH - plotH * v / top; };
    std::string s = "<h3>" + std::string(title) + "</h3><svg class=\"chart compare\" viewBox=\"0 0 1000 300\" role=\"img\" "
                    "aria-label=\"" + title + ": both results against thread count\">";
    s += gridLines(top, step, L, W - R, y);
    for (std::size_t i = 0; i < n; ++i) {
        s += "<text class=\"axis\" x=\"" + fixed(x(i), 1) + "\" y=\"" + fixed(H - B + 20, 0) + "\" text-anchor=\"middle\">" +
             std::to_string(kThreadCounts[i]) + "</text>";
    }
    s += "<text class=\"title\" x=\"" + fixed(L + plotW / 2, 0) + "\" y=\"" + fixed(H - 8, 0) +
         "\" text-anchor=\"middle\">Threads</text>";
    for (const auto& [list, cls] : {std::pair{&a, "int"}, std::pair{&b, "float"}}) {
        std::string points;
        for (std::size_t i = 0; i < list->size(); ++i) {
            points += (i ? " " : "") + fixed(x(i), 1) + "," + fixed(y(double((*list)[i].score)), 1);
        }
        s += "<polyline class=\"s-" + std::string(cls) + "\" data-series=\"" + (cls == std::string("int") ? "a" : "b") +
             "\" points=\"" + points + "\"/>";
        for (std::size_t i = 0; i < list->size(); ++i) {
            s += "<circle class=\"p-" + std::string(cls) + "\" cx=\"" + fixed(x(i), 1) + "\" cy=\"" +
                 fixed(y(double((*list)[i].score)), 1) + "\" r=\"4\"/>";
        }
    }
    return s + "</svg>";
}
