// Load generator for tallyforge-results. Starts the service on loopback with HTTPS and a
// database of its own (SQLite, or a PostgreSQL cluster it starts), then measures
//   1. submissions: every request a distinct, validly signed document, sent over
//      keep-alive HTTPS connections; throughput and latency of the 201 replies, and a
//      count of what the database holds afterwards;
//   2. result pages: GET /benchmarks/<id> of the stored results.
// Prints figures only; it passes or fails nothing.
//
//   service_load [--database sqlite|postgresql|URL] [--connections N] [--seconds S]
//                [--rate R] [--page-seconds S] [--keep-log FILE]
// --rate R paces submissions at R a second in all (latency then counts from the moment
// each request was due, so a stall is not hidden); 0 (default) sends as fast as replies come.

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "server/service.h"
#include "server/store.h"
#include "tests/server/service_testkit.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    std::string database = "sqlite";
    int connections = 8;
    double seconds = 10;
    double rate = 0;
    double pageSeconds = 5;
    std::string keepLog;  // copy of the service's request log, for a closer look
};

void usage(std::FILE* to) {
    std::fputs("usage: service_load [--database sqlite|postgresql|URL] [--connections N] [--seconds S] [--rate R]\n"
               "                    [--page-seconds S] [--keep-log FILE]\n"
               "Starts tallyforge-results on loopback and measures submissions, then result pages.\n"
               "  --database      sqlite (default), postgresql (a cluster of its own) or a database address\n"
               "  --connections   keep-alive HTTPS connections (default 8)\n"
               "  --seconds       how long submissions are sent (default 10)\n"
               "  --rate          submissions a second in all; 0 (default): as fast as replies come\n"
               "  --page-seconds  how long result pages are read (default 5; 0: not at all)\n"
               "  --keep-log      copy the service's request log to FILE\n",
               to);
}

double percentile(std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const std::size_t i = std::min(sorted.size() - 1, std::size_t(p / 100.0 * double(sorted.size())));
    return sorted[i];
}

void printLatency(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("  %-22s p50 %.2f ms   p90 %.2f ms   p99 %.2f ms   max %.2f ms\n", what, percentile(ms, 50),
                percentile(ms, 90), percentile(ms, 99), ms.empty() ? 0.0 : ms.back());
}

// CPU seconds (user + system) a process has used so far.
double processCpuSeconds(pid_t pid) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return 0;
    char buffer[1024] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    const char* p = std::strrchr(buffer, ')');  // the command name may hold spaces
    if (!p || n == 0) return 0;
    unsigned long utime = 0, stime = 0;
    // Fields after the name: state, then 10 more before utime (field 14) and stime (15).
    std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::unique_ptr<httplib::Client> keepAliveClient(const testkit::ServiceProcess& service) {
    auto client = service.client();
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    return client;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage(stderr);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--database") s.database = next();
        else if (a == "--connections") s.connections = std::max(1, std::stoi(next()));
        else if (a == "--seconds") s.seconds = std::stod(next());
        else if (a == "--rate") s.rate = std::stod(next());
        else if (a == "--page-seconds") s.pageSeconds = std::stod(next());
        else if (a == "--keep-log") s.keepLog = next();
        else {
            usage(stderr);
            return 2;
        }
    }

    testkit::TempDir dir;
    std::unique_ptr<testkit::PostgresCluster> cluster;
    std::string url = s.database;
    if (s.database == "sqlite") {
        url = "sqlite:" + dir.file("results.db");
    } else if (s.database == "postgresql") {
        std::string why;
        bool notInstalled = false;
        cluster = testkit::PostgresCluster::start(&why, &notInstalled);
        if (!cluster) {
            std::printf("PostgreSQL: %s\n", notInstalled ? "not installed, skipped" : why.c_str());
            return notInstalled ? 0 : 1;
        }
        url = cluster->url();
    }

    // Documents are made and signed before the clock starts, so the generator's own work
    // does not compete with the service during the measurement.
    std::random_device random;
    const std::uint64_t run = (std::uint64_t(random()) << 20) & 0xFFFFFFF00000ull;
    const std::size_t documentCount = std::size_t(std::max(20000.0, (s.rate > 0 ? s.rate : 6000) * s.seconds * 1.1));
    std::printf("preparing %zu signed documents...\n", documentCount);
    std::fflush(stdout);
    std::vector<std::string> documents(documentCount);
    {
        std::vector<std::thread> makers;
        const unsigned n = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned t = 0; t < n; ++t) {
            makers.emplace_back([&, t] {
                for (std::size_t i = t; i < documentCount; i += n) {
                    documents[i] = testkit::signedDocument(testkit::sampleInventory(run + i));
                }
            });
        }
        for (auto& m : makers) m.join();
    }

    testkit::ServiceProcess service(dir, {url, true, 0, {}});
    std::string why;
    if (!service.start(&why)) {
        std::printf("the service did not start: %s\n", why.c_str());
        return 1;
    }
    std::printf("service %s, database %s, %d keep-alive HTTPS connections%s\n", service.baseUrl().c_str(),
                redactedUrl(url).c_str(), s.connections,
                s.rate > 0 ? (", paced at " + std::to_string(int(s.rate)) + "/s").c_str() : ", unpaced");

    // ---- Submissions ----
    std::atomic<std::size_t> nextDocument{0};
    std::mutex mutex;
    std::vector<double> latencies;
    std::vector<std::string> ids;
    std::atomic<std::size_t> refused{0}, failed{0};
    const double serviceCpuBefore = processCpuSeconds(service.pid());
    const double ownCpuBefore = ownCpuSeconds();
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s.seconds));
    {
        std::vector<std::thread> workers;
        for (int c = 0; c < s.connections; ++c) {
            workers.emplace_back([&, c] {
                auto client = keepAliveClient(service);
                std::vector<double> mine;
                std::vector<std::string> myIds;
                const double interval = s.rate > 0 ? double(s.connections) / s.rate : 0;
                auto due = start + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(interval * c / s.connections));
                for (;;) {
                    if (s.rate > 0) {
                        std::this_thread::sleep_until(due);
                    }
                    const auto sent = s.rate > 0 ? due : Clock::now();
                    if (sent >= end) break;
                    const std::size_t i = nextDocument++;
                    if (i >= documents.size()) break;
                    auto reply = client->Post("/api/benchmarks", documents[i], "application/json; charset=utf-8");
                    const auto got = Clock::now();
                    if (!reply) {
                        ++failed;
                        client = keepAliveClient(service);
                    } else if (reply->status == 201) {
                        mine.push_back(std::chrono::duration<double, std::milli>(got - sent).count());
                        myIds.push_back(reply->body);
                    } else {
                        ++refused;
                    }
                    if (s.rate > 0) {
                        due += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval));
                    }
                }
                std::lock_guard lock(mutex);
                latencies.insert(latencies.end(), mine.begin(), mine.end());
                ids.insert(ids.end(), myIds.begin(), myIds.end());
            });
        }
        for (auto& w : workers) w.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double serviceCpu = processCpuSeconds(service.pid()) - serviceCpuBefore;
    const double ownCpu = ownCpuSeconds() - ownCpuBefore;
    std::printf("submissions: %zu accepted (201) in %.2f s = %.0f /s; %zu refused, %zu failed\n", latencies.size(),
                elapsed, double(latencies.size()) / elapsed, refused.load(), failed.load());
    printLatency("201 latency:", latencies);
    if (!latencies.empty()) {
        std::printf("  CPU per submission:    service %.0f us, load generator %.0f us (%u cores here)\n",
                    1e6 * serviceCpu / double(latencies.size()), 1e6 * ownCpu / double(latencies.size()),
                    std::thread::hardware_concurrency());
    }
    if (nextDocument >= documents.size()) std::printf("  (ran out of prepared documents)\n");

    {
        auto store = openResultStore(url, &why);
        std::printf("  database holds %lld results afterwards (%s)\n",
                    store ? static_cast<long long>(store->count()) : -1LL, store ? "committed before each 201" : why.c_str());
    }

    // ---- Result pages ----
    if (!ids.empty() && s.pageSeconds > 0) {
        std::atomic<std::size_t> pages{0}, pageErrors{0};
        std::vector<double> pageLatencies;
        const double pageCpuBefore = processCpuSeconds(service.pid());
        const auto pageStart = Clock::now();
        const auto pageEnd =
            pageStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s.pageSeconds));
        std::vector<std::thread> workers;
        for (int c = 0; c < s.connections; ++c) {
            workers.emplace_back([&, c] {
                auto client = keepAliveClient(service);
                std::mt19937 pick(unsigned(c) * 7919u);
                std::vector<double> mine;
                while (Clock::now() < pageEnd) {
                    const std::string path = "/benchmarks/" + ids[pick() % ids.size()];
                    const auto sent = Clock::now();
                    auto reply = client->Get(path.c_str());
                    if (reply && reply->status == 200) {
                        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                    } else {
                        ++pageErrors;
                        if (!reply) client = keepAliveClient(service);
                    }
                }
                std::lock_guard lock(mutex);
                pageLatencies.insert(pageLatencies.end(), mine.begin(), mine.end());
            });
        }
        for (auto& w : workers) w.join();
        const double pageElapsed = std::chrono::duration<double>(Clock::now() - pageStart).count();
        pages = pageLatencies.size();
        std::printf("result pages: %zu in %.2f s = %.0f /s with %zu results stored; %zu errors\n", pages.load(),
                    pageElapsed, double(pages) / pageElapsed, ids.size(), pageErrors.load());
        printLatency("page latency:", pageLatencies);
        if (pages > 0) {
            std::printf("  CPU per page:          service %.0f us\n",
                        1e6 * (processCpuSeconds(service.pid()) - pageCpuBefore) / double(pages));
        }
    }

    const int status = service.stop(SIGTERM);
    if (!s.keepLog.empty()) {
        std::FILE* out = std::fopen(s.keepLog.c_str(), "w");
        if (out) {
            const std::string log = service.log();
            std::fwrite(log.data(), 1, log.size(), out);
            std::fclose(out);
        }
    }
    if (status != 0) std::printf("the service ended with status %d\n", status);
    return 0;
}
