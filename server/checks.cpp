#include "server/checks.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "server/submission.h"

namespace {

const std::vector<ResultCheck>& checkList() {
    static const std::vector<ResultCheck> checks = {
        {"software-renderer", "Drawn by a software renderer",
         "The OpenGL renderer of this run is a software rasteriser, which draws on the processor: the "
         "scene frame rates measure the processor, not a graphics card.",
         "Install the graphics driver from the card's maker (a virtual machine or a remote desktop "
         "session often has none) and run the benchmark again."},
        {"cpu-over-capacity", "Processor score above capacity",
         "A processor score is more than " + thresholdText(kOverCapacityFactor) +
             " times the single-thread score times the threads at work "
             "(at most the processor's own thread count): more than the processor can do. Usually the "
             "single-thread test was slowed down, or work outside the test's window was counted.",
         "Close other programs and run the benchmark again with its current version."},
        {"cpu-disturbed", "Processor test disturbed",
         "At a thread count up to the processor's own, a score is more than " + std::to_string(kDisturbedDropPercent) +
             "\xC2\xA0% below the best score "
             "at a smaller thread count: something else was using the processor during the test.",
         "Close other programs (downloads, updates, virus scans, browsers, video), plug a laptop into "
         "mains power, and run the benchmark again on an otherwise idle machine."},
        {"cpu-incomplete", "Processor test incomplete",
         "A kernel of the processor test lacks a score at one of its eleven thread counts, or "
         "scored zero: the test did not run to its end.",
         "Run the benchmark again and let it finish; if this comes back, the processor test fails on "
         "this machine."},
        {"gpu-too-slow", "Scenes too slow to compare",
         "A scene averaged under " + std::to_string(kSlowestComparableFps) +
             " frames per second. Frame rates are whole numbers, so at such rates one frame per second is "
             "a difference of " + std::to_string(100 / kSlowestComparableFps) +
             "\xC2\xA0% or more, and results cannot be told apart.",
         "Compare this machine by its processor scores; for graphics figures, run the benchmark with a "
         "graphics card and its maker's driver."},
    };
    return checks;
}

const ResultCheck& byName(const char* name) {
    for (const ResultCheck& c : checkList()) {
        if (std::string_view(c.name) == name) return c;
    }
    throw std::logic_error(std::string("no check named ") + name);
}

// Scores by thread count, ascending; entries of a thread count the test does not run are
// left out, so a hand-made document cannot make a check divide or index out of range.
std::vector<CpuTestResult> byThreads(const std::vector<CpuTestResult>& list) {
    std::vector<CpuTestResult> sorted;
    for (const CpuTestResult& r : list) {
        if (std::find(kThreadCounts.begin(), kThreadCounts.end(), r.thread_count) != kThreadCounts.end()) {
            sorted.push_back(r);
        }
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const CpuTestResult& a, const CpuTestResult& b) { return a.thread_count < b.thread_count; });
    return sorted;
}

bool incomplete(const std::vector<CpuTestResult>& list) {
    for (std::uint64_t n : kThreadCounts) {
        const auto at = std::find_if(list.begin(), list.end(),
                                     [n](const CpuTestResult& r) { return r.thread_count == n; });
        if (at == list.end() || at->score == 0) return true;
    }
    return false;
}

// Zero scores belong to cpu-incomplete and are skipped here, as is everything when the
// single-thread score or the processor's thread count is unknown.
bool overCapacity(const std::vector<CpuTestResult>& sorted, std::uint32_t threads) {
    if (threads == 0 || sorted.empty() || sorted.front().thread_count != 1) return false;
    const double single = double(sorted.front().score);
    if (single <= 0) return false;
    for (const CpuTestResult& r : sorted) {
        const double working = double(std::min<std::uint64_t>(r.thread_count, threads));
        if (double(r.score) > kOverCapacityFactor * working * single) return true;
    }
    return false;
}

bool disturbed(const std::vector<CpuTestResult>& sorted, std::uint32_t threads) {
    std::uint64_t best = 0;
    for (const CpuTestResult& r : sorted) {
        if (r.thread_count > threads) break;
        if (r.score == 0) continue;
        if (best > 0 && double(r.score) < (100 - kDisturbedDropPercent) / 100.0 * double(best)) return true;
        best = std::max(best, r.score);
    }
    return false;
}

}  // namespace

const std::vector<ResultCheck>& allResultChecks() { return checkList(); }

std::string thresholdText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool namesSoftwareRenderer(const std::string& text) {
    static const char* const kSoftware[] = {"llvmpipe", "softpipe", "swrast", "swiftshader",
                                            "microsoft basic render driver", "gdi generic",
                                            "software rasterizer", "software rasteriser", "software renderer"};
    std::string lower = text;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* name : kSoftware) {
        if (lower.find(name) != std::string::npos) return true;
    }
    return false;
}

std::vector<const ResultCheck*> checksOf(const SystemInventory& inv) {
    const StageResults& score = inv.score;
    const std::uint32_t threads = inv.processor.thread_count;
    const auto integer = byThreads(score.cpu_integer);
    const auto floating = byThreads(score.cpu_float);

    std::vector<const ResultCheck*> raised;
    const auto raise = [&raised](bool condition, const char* name) {
        if (condition) raised.push_back(&byName(name));
    };
    raise(namesSoftwareRenderer(inv.gl_gpu.renderer) || namesSoftwareRenderer(inv.gl_gpu.vendor),
          "software-renderer");
    raise(overCapacity(integer, threads) || overCapacity(floating, threads), "cpu-over-capacity");
    raise(disturbed(integer, threads) || disturbed(floating, threads), "cpu-disturbed");
    raise(incomplete(score.cpu_integer) || incomplete(score.cpu_float), "cpu-incomplete");
    raise(std::any_of(score.gpu.begin(), score.gpu.end(), [](const GpuTestResult& g) { return g.average < kSlowestComparableFps; }),
          "gpu-too-slow");
    return raised;
}
