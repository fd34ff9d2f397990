// Does the product measure the processor, or itself? Two figures of the CPU test as the
// program really runs it:
//  - fidelity: the scores of the CPU stage inside the real shell (window, GUI, main loop)
//    against the same engine with no window at all, run alternately, as a ratio per thread
//    count: anything the interface takes from the workers shows as a ratio under 1;
//  - repeatability: the whole 22-test series N times, with the mean, coefficient of
//    variation, minimum and maximum of every score.
// Every run also prints what the process got of the processor, so that another tenant's
// load on the machine can be told from our own. Prints figures; passes or fails nothing.
//
// Usage (the shell needs a display; under Xvfb use the screen size the product would get):
//   xvfb-run -a -s "-screen 0 1280x720x24" cpu_fidelity [--rounds R] [--repeats N]
//       [--repeat-in alone|shell] [--window-ms MS]
// Defaults: 2 rounds of fidelity, no repeatability series, the product's 2000 ms window.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "shell/Application.h"
#include "platform/platform.h"
#include "stages/CpuBenchmarkStage.h"
#include "cpu/CpuEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

double clockSeconds(clockid_t id) {
    timespec t{};
    clock_gettime(id, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The machine's processor time from /proc/stat, in seconds: busy (all processes) and stolen
// (by the hypervisor, for other guests). Zero where it cannot be read.
struct MachineTime {
    double busy = 0, steal = 0;
};

MachineTime machineTime() {
    MachineTime m;
    if (FILE* f = std::fopen("/proc/stat", "r")) {
        unsigned long long v[8] = {};
        if (std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                        &v[6], &v[7]) == 8) {
            const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
            m.busy = static_cast<double>(v[0] + v[1] + v[2] + v[5] + v[6]) * tick;
            m.steal = static_cast<double>(v[7]) * tick;
        }
        std::fclose(f);
    }
    return m;
}

// The product's kernel, with the processor time of every worker added up, so that what the
// rest of the process (the interface and its renderer) used can be told apart.
class MeasuredKernel : public CpuBenchmark {
public:
    MeasuredKernel(std::shared_ptr<CpuBenchmark> inner, std::shared_ptr<std::atomic<std::int64_t>> workerNs)
        : inner_(std::move(inner)), workerNs_(std::move(workerNs)) {}
    std::uint64_t run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) override {
        const double t0 = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
        const std::uint64_t score = inner_->run(running, abortFlag);
        workerNs_->fetch_add(static_cast<std::int64_t>((clockSeconds(CLOCK_THREAD_CPUTIME_ID) - t0) * 1e9));
        return score;
    }

private:
    std::shared_ptr<CpuBenchmark> inner_;
    std::shared_ptr<std::atomic<std::int64_t>> workerNs_;
};

// Counts the frames the shell draws while the CPU test runs.
class CountingCpuStage : public CpuBenchmarkStage {
public:
    using CpuBenchmarkStage::CpuBenchmarkStage;
    void drawGui() override {
        ++frames;
        CpuBenchmarkStage::drawGui();
    }
    std::uint64_t frames = 0;
};

struct Run {
    StageResults results;
    double wall = 0;         // seconds, start of the engine to the hand-over
    double processCpu = 0;   // processor seconds of the whole process
    double workerCpu = 0;    // of which the workers
    std::uint64_t frames = 0;
    MachineTime machine;     // the whole machine's, over the same time

    double cores() const { return processCpu / wall; }
    double otherCores() const { return (processCpu - workerCpu) / wall; }
};

CpuEngineOptions measuredOptions(std::chrono::milliseconds window, const std::shared_ptr<std::atomic<std::int64_t>>& ns) {
    CpuEngineOptions options = withDefaults({});
    options.window = window;
    auto make = options.makeBenchmark;
    options.makeBenchmark = [make, ns](CpuWorkload w) -> std::shared_ptr<CpuBenchmark> {
        return std::make_shared<MeasuredKernel>(make(w), ns);
    };
    return options;
}

MachineTime since(const MachineTime& m0) {
    const MachineTime m1 = machineTime();
    return {m1.busy - m0.busy, m1.steal - m0.steal};
}

// The engine on its own: no window, the calling thread asleep while it runs.
Run runAlone(std::chrono::milliseconds window) {
    auto ns = std::make_shared<std::atomic<std::int64_t>>(0);
    Run run;
    const MachineTime m0 = machineTime();
    const double cpu0 = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const auto t0 = Clock::now();
    {
        CpuEngine engine(measuredOptions(window, ns));
        engine.start();
        while (!engine.isFinished(run.results)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    run.processCpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    run.workerCpu = static_cast<double>(ns->load()) * 1e-9;
    run.machine = since(m0);
    return run;
}

// The CPU stage as the product runs it: the real Application and main loop, with the stage
// as the only one in the queue, so the run ends when the stage hands its results over.
Run runInShell(std::chrono::milliseconds window) {
    auto ns = std::make_shared<std::atomic<std::int64_t>>(0);
    Run run;
    std::shared_ptr<CountingCpuStage> stage;
    double cpu0 = 0;
    Clock::time_point t0;
    MachineTime m0;
    Application app(
        [&] {
            stage = std::make_shared<CountingCpuStage>(measuredOptions(window, ns));
            m0 = machineTime();
            cpu0 = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
            t0 = Clock::now();
            return StageQueue{stage};
        },
        [&](const StageResults& results) { run.results = results; });
    app.mainLoop();
    run.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    run.processCpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    run.workerCpu = static_cast<double>(ns->load()) * 1e-9;
    run.frames = stage->frames;
    run.machine = since(m0);
    return run;
}

bool complete(const Run& r) {
    return r.results.cpu_integer.size() == kThreadCounts.size() && r.results.cpu_float.size() == kThreadCounts.size();
}

double mean(const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return v.empty() ? 0 : s / static_cast<double>(v.size());
}

double stddev(const std::vector<double>& v) {
    if (v.size() < 2) return 0;
    const double m = mean(v);
    double s = 0;
    for (double x : v) s += (x - m) * (x - m);
    return std::sqrt(s / static_cast<double>(v.size() - 1));
}

// Other processes' share of the machine during a run, in cores.
double othersCores(const Run& r) { return std::max(0.0, r.machine.busy - r.processCpu) / r.wall; }

constexpr double kQuietCores = 0.05;

void describeRun(const char* what, int index, const Run& r) {
    std::printf("  %-6s %d: %5.1f s, process %4.2f cores, workers %4.2f, rest %5.3f", what, index, r.wall, r.cores(),
                r.workerCpu / r.wall, r.otherCores());
    if (r.frames) std::printf(", %llu frames (%.1f per s)", static_cast<unsigned long long>(r.frames), r.frames / r.wall);
    // Other processes here, and other guests of the host: load that is not ours.
    std::printf("; other processes %4.2f cores, stolen %4.2f\n", othersCores(r), r.machine.steal / r.wall);
    std::fflush(stdout);
}

std::uint64_t best(const std::vector<CpuTestResult>& list) {
    std::uint64_t b = 0;
    for (const auto& t : list) b = std::max(b, t.score);
    return b;
}

// On a processor of n hardware threads, 64 workers can do no more than n: a 64-thread score
// above the n-thread one is work done outside the window (workers that started early).
void printOverCount(const std::vector<Run>& runs, const char* what) {
    const std::uint64_t hw = std::thread::hardware_concurrency();
    const auto at = std::find(kThreadCounts.begin(), kThreadCounts.end(), hw);
    if (at == kThreadCounts.end() || runs.empty()) return;
    const std::size_t k = static_cast<std::size_t>(at - kThreadCounts.begin());
    double i64 = 0, ihw = 0, f64 = 0, fhw = 0;
    for (const Run& r : runs) {
        i64 += static_cast<double>(r.results.cpu_integer.back().score);
        ihw += static_cast<double>(r.results.cpu_integer[k].score);
        f64 += static_cast<double>(r.results.cpu_float.back().score);
        fhw += static_cast<double>(r.results.cpu_float[k].score);
    }
    std::printf("  %-12s score(64T) / score(%lluT): integer %.3f, floating point %.3f\n", what,
                static_cast<unsigned long long>(hw), ihw > 0 ? i64 / ihw : 0, fhw > 0 ? f64 / fhw : 0);
}

void fidelity(int rounds, std::chrono::milliseconds window) {
    std::printf("Fidelity: %d rounds, each the engine alone, then the CPU stage in the shell\n", rounds);
    std::vector<Run> alone, shell;
    for (int i = 1; i <= rounds; ++i) {
        alone.push_back(runAlone(window));
        describeRun("alone", i, alone.back());
        shell.push_back(runInShell(window));
        describeRun("shell", i, shell.back());
        if (!complete(alone.back()) || !complete(shell.back())) {
            std::printf("  a run handed over incomplete lists; stopping\n");
            return;
        }
    }
    // A round in which other processes took a noticeable share measures them, not us.
    std::vector<Run> keptAlone, keptShell;
    for (int i = 0; i < rounds; ++i) {
        if (othersCores(alone[i]) < kQuietCores && othersCores(shell[i]) < kQuietCores) {
            keptAlone.push_back(alone[i]);
            keptShell.push_back(shell[i]);
        }
    }
    if (keptAlone.empty()) {
        std::printf("\nEvery round had other load on the machine; all are kept.\n");
    } else {
        std::printf("\n%zu of %d rounds kept: the others had other processes above %.2f cores.\n", keptAlone.size(),
                    rounds, kQuietCores);
        alone = keptAlone;
        shell = keptShell;
        rounds = static_cast<int>(alone.size());
    }
    std::printf("Mean scores over the rounds, stored (in the shell) / alone:\n");
    std::printf("  threads  integer alone  stored   ratio   float alone  stored   ratio\n");
    double worst = 1e9;
    for (std::size_t k = 0; k < kThreadCounts.size(); ++k) {
        double ia = 0, is = 0, fa = 0, fs = 0;
        for (int i = 0; i < rounds; ++i) {
            ia += static_cast<double>(alone[i].results.cpu_integer[k].score);
            is += static_cast<double>(shell[i].results.cpu_integer[k].score);
            fa += static_cast<double>(alone[i].results.cpu_float[k].score);
            fs += static_cast<double>(shell[i].results.cpu_float[k].score);
        }
        const double ri = ia > 0 ? is / ia : 0, rf = fa > 0 ? fs / fa : 0;
        worst = std::min({worst, ri, rf});
        std::printf("  %7llu  %13.0f  %6.0f   %5.3f  %11.0f  %6.0f   %5.3f\n",
                    static_cast<unsigned long long>(kThreadCounts[k]), ia / rounds, is / rounds, ri, fa / rounds,
                    fs / rounds, rf);
    }
    std::printf("  lowest ratio: %.3f\n", worst);
    printOverCount(alone, "alone");
    printOverCount(shell, "in the shell");
    std::printf("\n");
}

void printSpread(const char* label, const std::vector<double>& v) {
    const double m = mean(v);
    std::printf("  %-18s mean %8.0f  CV %5.2f %%  min %8.0f  max %8.0f\n", label, m, m > 0 ? 100 * stddev(v) / m : 0,
                *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
}

void repeatability(int repeats, bool inShell, std::chrono::milliseconds window) {
    std::printf("Repeatability: the whole series %d times, %s\n", repeats,
                inShell ? "the CPU stage in the shell" : "the engine alone");
    std::vector<Run> runs;
    for (int i = 1; i <= repeats; ++i) {
        runs.push_back(inShell ? runInShell(window) : runAlone(window));
        describeRun(inShell ? "shell" : "alone", i, runs.back());
        if (!complete(runs.back())) {
            std::printf("  a run handed over incomplete lists; stopping\n");
            return;
        }
    }
    for (const bool integer : {true, false}) {
        std::printf("%s:\n", integer ? "integer" : "floating point");
        auto listOf = [&](const Run& r) -> const std::vector<CpuTestResult>& {
            return integer ? r.results.cpu_integer : r.results.cpu_float;
        };
        std::vector<double> one, top;
        for (const Run& r : runs) {
            one.push_back(static_cast<double>(listOf(r)[0].score));
            top.push_back(static_cast<double>(best(listOf(r))));
        }
        printSpread("single thread", one);
        printSpread("best", top);
        // In run order: a drift over time points at the machine, a lone outlier at one run.
        std::printf("  %-18s", "single, by run");
        for (double v : one) std::printf(" %6.0f", v);
        std::printf("\n  %-18s", "best, by run");
        for (double v : top) std::printf(" %6.0f", v);
        std::printf("\n");
        for (std::size_t k = 0; k < kThreadCounts.size(); ++k) {
            std::vector<double> v;
            for (const Run& r : runs) v.push_back(static_cast<double>(listOf(r)[k].score));
            const std::string label = std::to_string(kThreadCounts[k]) + " threads";
            printSpread(label.c_str(), v);
        }
    }
    printOverCount(runs, inShell ? "in the shell" : "alone");
    std::printf("\n");
}

// On stdout with exit 0 when asked for, else on stderr with exit 2.
int usage(bool asked = false) {
    std::fputs("usage: cpu_fidelity [--rounds R] [--repeats N] [--repeat-in alone|shell] [--window-ms MS]\n"
               "The CPU stage in the real shell against the engine alone (fidelity), then the whole series\n"
               "N times (repeatability). The shell needs a display: under Xvfb, -s \"-screen 0 1280x720x24\".\n"
               "  --rounds     alternating shell and alone runs for the fidelity figures (default 2; 0: none)\n"
               "  --repeats    whole series for the repeatability figures (default 0: none)\n"
               "  --repeat-in  where the repeated series run: alone (default) or shell\n"
               "  --window-ms  length of each test window in milliseconds (default 2000, the product's)\n",
               asked ? stdout : stderr);
    return asked ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 2, repeats = 0;
    bool repeatInShell = false;
    long windowMs = 2000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            return usage(true);
        } else if (arg == "--rounds" && hasValue) {
            rounds = std::atoi(argv[++i]);
        } else if (arg == "--repeats" && hasValue) {
            repeats = std::atoi(argv[++i]);
        } else if (arg == "--repeat-in" && hasValue) {
            const std::string where = argv[++i];
            if (where != "alone" && where != "shell") return usage();
            repeatInShell = where == "shell";
        } else if (arg == "--window-ms" && hasValue) {
            windowMs = std::strtol(argv[++i], nullptr, 10);
        } else {
            return usage();
        }
    }
    if (rounds < 0 || repeats < 0 || windowMs <= 0) return usage();

    // As the product does at start, so both kinds of run have the same priority.
    raiseProcessPriority();
    std::printf("CPU test fidelity and repeatability: window %ld ms, %u hardware threads\n\n", windowMs,
                std::thread::hardware_concurrency());
    const std::chrono::milliseconds window(windowMs);
    if (rounds > 0) fidelity(rounds, window);
    if (repeats > 0) repeatability(repeats, repeatInShell, window);
    return 0;
}
