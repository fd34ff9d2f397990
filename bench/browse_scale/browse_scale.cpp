// Fills a database with synthetic, valid, signed results spread over a few hundred
// processor and graphics models, then measures the real service on loopback: a result
// page, a model page, a search, a comparison and the newest and oldest page of all results
// (p50 and p99 each), then submissions per
// second with that many stored. Prints figures; asserts nothing.
//   browse_scale --database sqlite|postgresql [--results N] [--seconds S] [--connections C]

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "core/document.h"
#include "server/checks.h"
#include "server/history.h"
#include "server/models.h"
#include "server/recheck.h"
#include "server/service.h"
#include "server/store.h"
#include "tests/server/service_testkit.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kProcessorModels = 300;
constexpr int kGraphicsModels = 200;
constexpr const char* kResolutions[][2] = {{"1920", "1080"}, {"2560", "1440"}, {"3840", "2160"}};

// A valid result of machine i: its processor and graphics model chosen by i, its scores
// spread around a level of the model.
SystemInventory synthetic(std::uint64_t i, std::uint64_t salt) {
    SystemInventory inv = testkit::sampleInventory(salt + i);
    std::mt19937_64 random(i * 2654435761u + salt);
    const int cpu = int(random() % kProcessorModels);
    const int gpu = int(random() % kGraphicsModels);
    inv.processor.name = "Synthetic(R) Core(TM) S" + std::to_string(1000 + cpu) + " CPU @ 3.60GHz";
    inv.gl_gpu.renderer = "Synthetic Graphics G" + std::to_string(500 + gpu) + "/PCIe/SSE2";
    const auto& r = kResolutions[random() % 3];
    inv.width = std::stoi(r[0]);
    inv.height = std::stoi(r[1]);
    const double level = (0.5 + double(cpu % 50) / 25.0) * (0.9 + 0.2 * double(random() % 1000) / 1000.0);
    const std::uint64_t single = inv.score.cpu_integer[0].score;
    for (auto* list : {&inv.score.cpu_integer, &inv.score.cpu_float}) {
        for (auto& s : *list) s.score = std::max<std::uint64_t>(1, std::uint64_t(double(s.score) * level));
    }
    (void)single;
    const double glevel = (0.3 + double(gpu % 40) / 10.0) * (0.9 + 0.2 * double(random() % 1000) / 1000.0);
    for (auto& g : inv.score.gpu) {
        g.average = std::max<std::uint64_t>(6, std::uint64_t(double(g.average) * glevel));
        g.ten_percent = std::min(g.average, std::max<std::uint64_t>(5, std::uint64_t(double(g.ten_percent) * glevel)));
        g.one_percent = std::min(g.ten_percent, std::max<std::uint64_t>(5, std::uint64_t(double(g.one_percent) * glevel)));
    }
    return inv;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p / 100.0 * double(v.size())))];
}

std::unique_ptr<httplib::Client> client(const testkit::ServiceProcess& service) {
    auto c = service.client();
    c->set_keep_alive(true);
    c->set_tcp_nodelay(true);
    return c;
}

// Requests paths from `paths` round-robin on `connections` connections for `seconds`.
void measure(const char* what, const testkit::ServiceProcess& service, const std::vector<std::string>& paths,
             int connections, double seconds) {
    std::mutex mutex;
    std::vector<double> all;
    std::atomic<std::size_t> errors{0};
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> workers;
    for (int c = 0; c < connections; ++c) {
        workers.emplace_back([&, c] {
            auto http = client(service);
            std::vector<double> mine;
            for (std::size_t k = std::size_t(c); Clock::now() < end; k += std::size_t(connections)) {
                const auto sent = Clock::now();
                auto reply = http->Get(paths[k % paths.size()].c_str());
                if (reply && reply->status == 200) {
                    mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                } else {
                    ++errors;
                    if (!reply) http = client(service);
                }
            }
            std::lock_guard lock(mutex);
            all.insert(all.end(), mine.begin(), mine.end());
        });
    }
    for (auto& w : workers) w.join();
    std::printf("  %-14s %7zu answers  p50 %6.2f ms  p99 %6.2f ms  (%zu errors)\n", what, all.size(),
                percentile(all, 50), percentile(all, 99), errors.load());
}

}  // namespace

int main(int argc, char** argv) {
    std::string database = "sqlite";
    std::uint64_t results = 1000000;
    double seconds = 5;
    int connections = 4;
    constexpr const char* kUsage =
        "usage: browse_scale [--database sqlite|postgresql] [--results N] [--seconds S] [--connections C]\n"
        "  Fills a database with N synthetic results (default 1000000), starts the service on it and\n"
        "  measures its pages and submissions, S seconds each (default 5) over C connections (default 4).\n";
    for (int i = 1; i < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc || (a != "--database" && a != "--results" && a != "--seconds" && a != "--connections")) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        if (a == "--database") database = argv[i + 1];
        else if (a == "--results") results = std::stoull(argv[i + 1]);
        else if (a == "--seconds") seconds = std::stod(argv[i + 1]);
        else connections = std::stoi(argv[i + 1]);
    }
    testkit::TempDir dir;
    std::unique_ptr<testkit::PostgresCluster> cluster;
    std::string why;
    bool notInstalled = false;
    const std::string url = testkit::benchDatabase(database, dir, cluster, &why, &notInstalled);
    if (url.empty()) {
        std::printf("PostgreSQL: %s\n", why.c_str());
        return notInstalled ? 0 : 1;
    }

    // ---- Fill, through the store (the service's own code for every row) ----
    std::random_device seed;
    const std::uint64_t salt = (std::uint64_t(seed()) << 24) & 0xFFFFFF000000ull;
    std::vector<std::string> sampleIds;
    {
        std::string why;
        auto store = openResultStore(url, &why);
        if (!store) {
            std::printf("cannot open %s: %s\n", url.c_str(), why.c_str());
            return 1;
        }
        const std::string key = loadMachineKey(*store);
        const auto start = Clock::now();
        constexpr std::uint64_t kBatch = 2000;
        for (std::uint64_t from = 0; from < results; from += kBatch) {
            std::vector<NewResult> batch;
            for (std::uint64_t i = from; i < std::min(results, from + kBatch); ++i) {
                const SystemInventory inv = synthetic(i, salt);
                const std::string document = testkit::signedDocument(inv);
                batch.push_back({computeResultDigest(inv, testkit::salt().data(), testkit::salt().size()), document,
                                 std::int64_t(1700000000000 + i * 1000), rankedFiguresOf(inv), kChecksVersion,
                                 derivedColumnsOf(inv, key), kDerivedVersion});
            }
            const auto ids = store->insertBatch(batch);
            if (from % 100000 == 0) sampleIds.push_back(ids.front().id);
            for (std::size_t k = 0; k < ids.size(); k += 500) sampleIds.push_back(ids[k].id);
            if ((from / kBatch) % 50 == 0) {
                std::printf("  filled %llu of %llu (%.0f s)\n", static_cast<unsigned long long>(from + batch.size()),
                            static_cast<unsigned long long>(results),
                            std::chrono::duration<double>(Clock::now() - start).count());
                std::fflush(stdout);
            }
        }
        std::printf("filled %llu results in %.0f s\n", static_cast<unsigned long long>(store->count()),
                    std::chrono::duration<double>(Clock::now() - start).count());
    }

    // ---- The service on that database ----
    const auto startAt = Clock::now();
    testkit::ServiceProcess service(dir, {url, false, 0, {}});
    if (!service.start(&why)) {
        std::printf("the service did not start: %s\n", why.c_str());
        return 1;
    }
    std::printf("service started in %.1f s on %s with %u cores here; %d connections, %.0f s per measure\n",
                std::chrono::duration<double>(Clock::now() - startAt).count(), redactedUrl(url).c_str(),
                std::thread::hardware_concurrency(), connections, seconds);

    std::vector<std::string> resultPages, modelPages, searches, compares;
    std::mt19937 pick(11);
    for (const std::string& id : sampleIds) resultPages.push_back("/benchmarks/" + id);
    for (int m = 0; m < kProcessorModels; ++m) {
        modelPages.push_back("/processors/synthetic-core-s" + std::to_string(1000 + m));
        searches.push_back("/search?q=s" + std::to_string(1000 + m));
    }
    for (std::size_t k = 0; k + 1 < sampleIds.size(); ++k) {
        compares.push_back("/compare?a=" + sampleIds[k] + "&b=" + sampleIds[pick() % sampleIds.size()]);
    }
    std::shuffle(resultPages.begin(), resultPages.end(), pick);
    std::shuffle(modelPages.begin(), modelPages.end(), pick);
    measure("result page", service, resultPages, connections, seconds);
    measure("model page", service, modelPages, connections, seconds);
    measure("search", service, searches, connections, seconds);
    measure("comparison", service, compares, connections, seconds);
    // The list of all results pages by seeking, so its oldest page should cost its newest's.
    measure("all results, newest page", service, {"/benchmarks"}, connections, seconds);
    measure("all results, oldest page", service, {"/benchmarks?oldest=1"}, connections, seconds);

    // ---- Submissions with that many stored ----
    const std::size_t count = std::size_t(std::max(4000.0, 8000 * seconds * 1.5));
    std::vector<std::string> documents(count);
    for (std::size_t i = 0; i < count; ++i) documents[i] = testkit::signedDocument(synthetic(results + i, salt));
    std::atomic<std::size_t> next{0}, accepted{0};
    std::mutex mutex;
    std::vector<double> latencies;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    {
        std::vector<std::thread> workers;
        for (int c = 0; c < std::max(connections, 16); ++c) {
            workers.emplace_back([&] {
                auto http = client(service);
                std::vector<double> mine;
                while (Clock::now() < end) {
                    const std::size_t i = next++;
                    if (i >= documents.size()) break;
                    const auto sent = Clock::now();
                    auto reply = http->Post("/api/benchmarks", documents[i], "application/json; charset=utf-8");
                    if (reply && reply->status == 201) {
                        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                    } else if (!reply) {
                        http = client(service);
                    }
                }
                std::lock_guard lock(mutex);
                latencies.insert(latencies.end(), mine.begin(), mine.end());
            });
        }
        for (auto& w : workers) w.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("  submissions    %7zu accepted in %.1f s = %.0f /s  p50 %6.2f ms  p99 %6.2f ms%s\n", latencies.size(),
                elapsed, double(latencies.size()) / elapsed, percentile(latencies, 50), percentile(latencies, 99),
                next >= documents.size() ? "  (ran out of prepared documents)" : "");
    service.stop(SIGTERM);
    return 0;
}
