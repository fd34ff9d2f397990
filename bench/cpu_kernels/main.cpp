// Prints figures for the CPU kernels and the CPU test engine:
//  - units of work per second on one thread, our kernel against a plain loop of the same
//    algorithm built here with the same flags;
//  - the score at each of the eleven thread counts, through the same test runner the stage
//    uses, with scaling efficiency and the oversubscription ratio;
//  - how long each test window really lasted, and how many processors the workers had.
// Usage: cpu_kernels [--window-ms N] [--repeats N]   (defaults: 2000 ms, 3 repeats)

#include "cpu/FloatingPointBenchmark.h"
#include "cpu/IntegerBenchmark.h"
#include "platform/platform.h"
#include "cpu/CpuEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- reference loops: the same algorithms written as plain loops, with a fixed amount of work ----

// Flips of the permutations from the identity on, until at least targetFlips are counted.
std::uint64_t referenceFlips(std::uint64_t targetFlips) {
    unsigned char perm[16];
    unsigned char count[16] = {0};
    unsigned char work[16];
    for (int i = 0; i < 16; ++i) perm[i] = static_cast<unsigned char>(i + 1);
    std::uint64_t total = 0;
    while (total < targetFlips) {
        for (int i = 0; i < 16; ++i) work[i] = perm[i];
        while (work[0] != 1) {
            for (int lo = 0, hi = work[0] - 1; lo < hi; ++lo, --hi) {
                const unsigned char t = work[lo];
                work[lo] = work[hi];
                work[hi] = t;
            }
            ++total;
        }
        for (int i = 1;;) {
            const unsigned char first = perm[0];
            for (int j = 0; j < i; ++j) perm[j] = perm[j + 1];
            perm[i] = first;
            if (count[i] < i) {
                ++count[i];
                break;
            }
            count[i] = 0;
            if (++i == 16) break;
        }
    }
    return total;
}

struct RefBody {
    double x, y, z, vx, vy, vz, m;
};

double referenceSteps(std::uint64_t steps) {
    RefBody b[5];
    for (int i = 0; i < 5; ++i) {
        const nbody::Body& t = nbody::kInitialSystem[i];
        b[i] = {t.x, t.y, t.z, t.vx, t.vy, t.vz, t.mass};
    }
    double px = 0, py = 0, pz = 0;
    for (int i = 0; i < 5; ++i) px += b[i].vx * b[i].m, py += b[i].vy * b[i].m, pz += b[i].vz * b[i].m;
    b[0].vx = -px / nbody::SOLAR_MASS, b[0].vy = -py / nbody::SOLAR_MASS, b[0].vz = -pz / nbody::SOLAR_MASS;
    for (std::uint64_t s = 0; s < steps; ++s) {
        for (int i = 0; i < 5; ++i) {
            for (int j = i + 1; j < 5; ++j) {
                const double dx = b[i].x - b[j].x, dy = b[i].y - b[j].y, dz = b[i].z - b[j].z;
                const double d = std::sqrt((dx * dx + dy * dy) + dz * dz);
                const double mag = 0.01 / ((d * d) * d);
                b[i].vx -= (dx * b[j].m) * mag, b[i].vy -= (dy * b[j].m) * mag, b[i].vz -= (dz * b[j].m) * mag;
                b[j].vx += (dx * b[i].m) * mag, b[j].vy += (dy * b[i].m) * mag, b[j].vz += (dz * b[i].m) * mag;
            }
        }
        for (int i = 0; i < 5; ++i) b[i].x += b[i].vx * 0.01, b[i].y += b[i].vy * 0.01, b[i].z += b[i].vz * 0.01;
    }
    return b[0].x + b[1].y + b[2].z;  // keeps the loop alive
}

// Processor time of the calling thread: on a machine shared with other work this counts
// only the time that the loop really ran. Falls back to wall time where it is missing.
double threadSeconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#else
    return seconds(Clock::now().time_since_epoch());
#endif
}

// ---- our kernels, as the workers call them ----

struct Timed {
    std::uint64_t units = 0;  // score times the kernel's divisor: a lower bound, off by < one point
    double secs = 0;
};

Timed timeKernel(CpuBenchmark& kernel, std::uint64_t divisor, std::chrono::nanoseconds window) {
    std::atomic<bool> running{true};
    std::atomic<bool> abortFlag{false};
    std::thread closer([&] {
        std::this_thread::sleep_for(window);
        running.store(false);
    });
    const double t0 = threadSeconds();
    const std::uint64_t score = kernel.run(running, abortFlag);
    const double t1 = threadSeconds();
    closer.join();
    return {score * divisor, t1 - t0};
}

struct Comparison {
    double ours = 0;       // best units per second over the repeats
    double reference = 0;  // best units per second over the repeats
};

Comparison compareInteger(std::chrono::nanoseconds window, int repeats) {
    IntegerBenchmark kernel;
    Comparison c;
    for (int r = 0; r < repeats; ++r) {
        const Timed ours = timeKernel(kernel, IntegerBenchmark::kFlipsPerPoint, window);
        const double t0 = threadSeconds();
        const std::uint64_t flips = referenceFlips(ours.units);
        const double refSecs = threadSeconds() - t0;
        c.ours = std::max(c.ours, static_cast<double>(ours.units) / ours.secs);
        c.reference = std::max(c.reference, static_cast<double>(flips) / refSecs);
    }
    return c;
}

Comparison compareFloat(std::chrono::nanoseconds window, int repeats) {
    FloatingPointBenchmark kernel;
    Comparison c;
    volatile double sink = 0;
    for (int r = 0; r < repeats; ++r) {
        const Timed ours = timeKernel(kernel, FloatingPointBenchmark::kStepsPerPoint, window);
        const double t0 = threadSeconds();
        sink = sink + referenceSteps(ours.units);
        const double refSecs = threadSeconds() - t0;
        c.ours = std::max(c.ours, static_cast<double>(ours.units) / ours.secs);
        c.reference = std::max(c.reference, static_cast<double>(ours.units) / refSecs);
    }
    return c;
}

// ---- the test runner at every thread count ----

struct Series {
    std::map<std::uint64_t, std::uint64_t> score;   // by thread count
    std::map<std::uint64_t, double> windowErrorUs;  // measured window minus nominal
    std::map<std::uint64_t, double> cpus;           // processors the process had, on average
    std::map<std::uint64_t, double> cpuSeconds;     // processor time the process used
};

// Processor time of the whole process; with the wall time of a test it says how many
// processors the workers really had, which other load on the machine can take away.
double processSeconds() {
#if defined(CLOCK_PROCESS_CPUTIME_ID)
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#else
    return 0;
#endif
}

bool inTable(std::uint64_t n) { return std::find(kThreadCounts.begin(), kThreadCounts.end(), n) != kThreadCounts.end(); }

Series runSeries(CpuBenchmark& kernel, std::uint64_t hardwareThreads, const CpuEngineOptions& options) {
    Series s;
    std::atomic<bool> abortFlag{false};
    std::vector<std::uint64_t> counts(kThreadCounts.begin(), kThreadCounts.end());
    if (hardwareThreads <= 64 && !inTable(hardwareThreads)) counts.push_back(hardwareThreads);  // scaling figures only
    for (const std::uint64_t n : counts) {
        const double cpu0 = processSeconds();
        const auto wall0 = Clock::now();
        const CpuTestOutcome o = runTest(kernel, n, abortFlag, options);
        s.cpuSeconds[n] = processSeconds() - cpu0;
        s.cpus[n] = s.cpuSeconds[n] / seconds(Clock::now() - wall0);
        s.score[n] = o.score;
        s.windowErrorUs[n] = std::chrono::duration<double, std::micro>(o.window - options.window).count();
        if (!o.launchError.empty()) {
            std::printf("  (%llu threads: only %zu started: %s)\n", static_cast<unsigned long long>(n), o.workersStarted,
                        o.launchError.c_str());
        }
    }
    return s;
}

void printScaling(const char* name, const Series& s, std::uint64_t hw) {
    std::printf("%-15s scaling efficiency, score(n) / (n x score(1)):", name);
    const double one = static_cast<double>(s.score.at(1));
    for (const auto& [n, score] : s.score) {
        if (n > hw || n == 1) continue;
        std::printf("  %lluT %.3f", static_cast<unsigned long long>(n),
                    one > 0 ? static_cast<double>(score) / (static_cast<double>(n) * one) : 0.0);
    }
    if (hw < 2) std::printf("  (one hardware thread: nothing to scale)");
    std::printf("\n");
    if (s.score.count(hw)) {
        const double atHw = static_cast<double>(s.score.at(hw));
        std::printf("%-15s oversubscription ratio, score(64T) / score(%lluT): %.3f\n", name,
                    static_cast<unsigned long long>(hw), atHw > 0 ? static_cast<double>(s.score.at(64)) / atHw : 0.0);
    }
    // The same figures per processor-second used: what is left when other load is taken out.
    const auto perCpu = [&](std::uint64_t n) { return static_cast<double>(s.score.at(n)) / s.cpuSeconds.at(n); };
    std::printf("%-15s points per processor-second, relative to 1T:", name);
    for (const auto& [n, score] : s.score) {
        if (n == 1 || (n > hw && n != 64)) continue;
        std::printf("  %lluT %.3f", static_cast<unsigned long long>(n), perCpu(n) / perCpu(1));
    }
    std::printf("\n");
}

struct Spread {
    double min = 0, median = 0, max = 0;
};

Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t k = v.size();
    return {v.front(), k % 2 ? v[k / 2] : (v[k / 2 - 1] + v[k / 2]) / 2, v.back()};
}

constexpr const char* kUsage =
    "usage: cpu_kernels [--window-ms N] [--repeats N]\n"
    "Prints figures for the CPU kernels and the CPU test engine: one thread against a plain\n"
    "reference loop, then the score at each thread count with its scaling.\n"
    "  --window-ms  length of each test window in milliseconds (default 2000)\n"
    "  --repeats    runs of each one-thread comparison, the best kept (default 3)\n";

}  // namespace

int main(int argc, char** argv) {
    long windowMs = 2000;
    int repeats = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--window-ms" && i + 1 < argc) {
            windowMs = std::strtol(argv[++i], nullptr, 10);
        } else if (arg == "--repeats" && i + 1 < argc) {
            repeats = std::atoi(argv[++i]);
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (windowMs <= 0 || repeats <= 0) {
        std::fprintf(stderr, "window and repeats must be positive\n");
        return 2;
    }
    const std::uint64_t hw = std::max(1u, std::thread::hardware_concurrency());
    CpuEngineOptions options = withDefaults({});
    options.window = std::chrono::milliseconds(windowMs);

    std::printf("CPU kernels: window %ld ms, %d repeats (best kept), %llu hardware threads\n\n", windowMs, repeats,
                static_cast<unsigned long long>(hw));

    std::printf("One thread, units per second of the thread's processor time:\n");
    const Comparison ci = compareInteger(options.window, repeats);
    std::printf("  integer          ours %11.4g flips/s   reference loop %11.4g flips/s   ratio %.3f\n", ci.ours,
                ci.reference, ci.ours / ci.reference);
    const Comparison cf = compareFloat(options.window, repeats);
    std::printf("  floating point   ours %11.4g steps/s   reference loop %11.4g steps/s   ratio %.3f\n\n", cf.ours,
                cf.reference, cf.ours / cf.reference);
    std::fflush(stdout);

    IntegerBenchmark integer;
    FloatingPointBenchmark floating;
    const Series si = runSeries(integer, hw, options);
    const Series sf = runSeries(floating, hw, options);

    std::printf("Scores through the stage's test runner (window error = measured window - nominal):\n");
    std::printf("  threads  integer pts  per thread  cpus  window err us  float pts  per thread  cpus  window err us\n");
    std::vector<double> windowErrors;
    for (const auto& [n, score] : si.score) {
        std::printf("  %7llu  %11llu  %10.1f  %4.2f  %13.1f  %9llu  %10.1f  %4.2f  %13.1f%s\n",
                    static_cast<unsigned long long>(n), static_cast<unsigned long long>(score),
                    static_cast<double>(score) / static_cast<double>(n), si.cpus.at(n), si.windowErrorUs.at(n),
                    static_cast<unsigned long long>(sf.score.at(n)), static_cast<double>(sf.score.at(n)) / static_cast<double>(n),
                    sf.cpus.at(n), sf.windowErrorUs.at(n),
                    inTable(n) ? "" : "  (extra test for the scaling figures)");
        if (inTable(n)) {
            windowErrors.push_back(si.windowErrorUs.at(n));
            windowErrors.push_back(sf.windowErrorUs.at(n));
        }
    }
    std::printf("\n");
    printScaling("integer", si, hw);
    printScaling("floating point", sf, hw);

    const Spread w = spread(windowErrors);
    std::printf("\nWindow error over the %zu windows of %ld ms: min %.1f us, median %.1f us, max %.1f us\n",
                windowErrors.size(), windowMs, w.min, w.median, w.max);

    // The same precise wait with no workers running: what the machine's timer and scheduler
    // give on their own.
    std::vector<double> idle;
    const auto idleWait = std::min<std::chrono::nanoseconds>(options.window, std::chrono::milliseconds(200));
    for (int i = 0; i < 10; ++i) {
        const auto t0 = Clock::now();
        waitPrecise(idleWait);
        idle.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0 - idleWait).count());
    }
    const Spread b = spread(idle);
    std::printf("Baseline, 10 waits of %lld ms with no workers: min %.1f us, median %.1f us, max %.1f us\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(idleWait).count()), b.min,
                b.median, b.max);
    return 0;
}
