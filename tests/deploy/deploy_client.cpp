// Client side of deploy/smoke. Every request comes from its own loopback source address
// (127.0.0.0/8 is all ours), as clients on the internet would, so that per-address limits
// in nginx and in the service see many clients rather than one.
//
//   deploy_client load    --url URL --ca FILE --rate R --seconds S --variant N --ids FILE
//   deploy_client probe   --url URL --ca FILE --seconds S [--interval-ms 200] [--p99-ms 100] --variant N
//   deploy_client hostile --url URL --ca FILE --direct URL
//   deploy_client verify  --direct URL --ids FILE
//   deploy_client drip    --url URL --connections N [--interval-ms 1500] --limit-s S
//   deploy_client outage  --url URL --ca FILE --ready URL --rate R --seconds S --variant N --ids FILE --marks FILE
// Prints its figures with their goals; exit status 1 when one is missed, 2 on bad usage.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/server/hostile_submissions.h"
#include "tests/server/service_testkit.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Args {
    std::map<std::string, std::string> values;
    std::string get(const std::string& name, const std::string& fallback = {}) const {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
    double number(const std::string& name, double fallback) const {
        const std::string v = get(name);
        return v.empty() ? fallback : std::stod(v);
    }
};

// Source address number i of a pool: 127.P.x.y, 62,500 of them.
std::string sourceAddress(int pool, std::uint64_t i) {
    return "127." + std::to_string(pool) + "." + std::to_string(1 + (i / 250) % 250) + "." +
           std::to_string(1 + i % 250);
}

std::unique_ptr<httplib::Client> clientFrom(const std::string& url, const std::string& ca, const std::string& source) {
    auto c = std::make_unique<httplib::Client>(url);
    if (!ca.empty()) {
        c->set_ca_cert_path(ca.c_str());
        c->enable_server_certificate_verification(true);
    }
    c->set_connection_timeout(5);
    c->set_read_timeout(10);
    c->set_write_timeout(10);
    c->set_tcp_nodelay(true);
    c->set_socket_options([source](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        bind(sock, reinterpret_cast<sockaddr*>(&from), sizeof from);
    });
    return c;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p / 100.0 * double(v.size())))];
}

std::string latencyLine(const std::vector<double>& ms) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "p50 %.1f ms, p99 %.1f ms, max %.1f ms", percentile(ms, 50),
                  percentile(ms, 99), ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()));
    return buffer;
}

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// Submissions at a steady rate, each due at its own moment; latency counts from that moment.
int load(const Args& a) {
    const std::string url = a.get("--url"), ca = a.get("--ca");
    const double rate = a.number("--rate", 20), seconds = a.number("--seconds", 10);
    const auto variant = std::uint64_t(a.number("--variant", 1000000));
    const std::size_t total = std::size_t(rate * seconds);
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::map<int, int> statuses;
    std::vector<double> latencies;
    std::vector<std::string> ids;
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int w = 0; w < 16; ++w) {
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < total;) {
                const auto due = start + std::chrono::microseconds(std::int64_t(double(i) * 1e6 / rate));
                std::this_thread::sleep_until(due);
                const std::string body = testkit::signedDocument(testkit::sampleInventory(variant + i));
                auto result = clientFrom(url, ca, sourceAddress(1, variant / 1000000 * 10000 + i))
                                  ->Post("/api/benchmarks", body, "application/json; charset=utf-8");
                const double ms = msSince(due);
                std::lock_guard lock(mutex);
                statuses[result ? result->status : 0]++;
                latencies.push_back(ms);
                if (result && result->status == 201) ids.push_back(result->body);
            }
        });
    }
    for (auto& t : workers) t.join();
    std::ofstream out(a.get("--ids"), std::ios::app);
    for (const auto& id : ids) out << id << "\n";
    std::printf("  %zu submissions at %.0f/s over %.0f s:", total, rate, seconds);
    for (const auto& [status, count] : statuses) std::printf(" %s %d", status ? std::to_string(status).c_str() : "no-reply", count);
    std::printf("; %s\n", latencyLine(latencies).c_str());
    const int failed = int(total) - statuses[201];
    std::printf("  %-58s %d (goal 0)  %s\n", "requests that did not get 201:", failed, failed ? "MISSED" : "ok");
    return failed ? 1 : 0;
}

// /healthz and a submission every interval, side by side, for the whole of an attack.
int probe(const Args& a) {
    const std::string url = a.get("--url"), ca = a.get("--ca");
    const double seconds = a.number("--seconds", 20), p99Goal = a.number("--p99-ms", 100);
    const auto interval = std::chrono::milliseconds(int(a.number("--interval-ms", 200)));
    const auto variant = std::uint64_t(a.number("--variant", 3000000));
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    struct Track {
        std::vector<double> ms;
        int failed = 0;
    };
    Track health, submit;
    auto loop = [&](Track& track, auto&& send) {
        for (std::uint64_t i = 0; Clock::now() < end; ++i) {
            const auto tick = Clock::now();
            const bool ok = send(i);
            track.ms.push_back(msSince(tick));
            if (!ok) track.failed++;
            std::this_thread::sleep_until(tick + interval);
        }
    };
    std::thread h([&] {
        loop(health, [&](std::uint64_t) {
            auto r = clientFrom(url, ca, "127.3.0.1")->Get("/healthz");
            return r && r->status == 200 && r->body == "ok";
        });
    });
    std::thread s([&] {
        loop(submit, [&](std::uint64_t i) {
            const std::string body = testkit::signedDocument(testkit::sampleInventory(variant + i));
            auto r = clientFrom(url, ca, sourceAddress(2, variant / 1000000 * 10000 + i))
                         ->Post("/api/benchmarks", body, "application/json; charset=utf-8");
            return r && r->status == 201;
        });
    });
    h.join();
    s.join();
    int missed = 0;
    for (const auto& [name, t] : {std::pair<const char*, Track&>{"GET /healthz", health}, {"POST /api/benchmarks", submit}}) {
        const double p99 = percentile(t.ms, 99);
        const bool bad = t.failed > 0 || p99 >= p99Goal;
        missed += bad;
        std::printf("  %-22s %4zu probes, %d failed (goal 0), %s (goal p99 < %.0f ms)  %s\n", name, t.ms.size(),
                    t.failed, latencyLine(t.ms).c_str(), p99Goal, bad ? "MISSED" : "ok");
    }
    return missed ? 1 : 0;
}

// The service tests' table of refused submissions, through the proxy and directly: the same
// status and the same sentence, which is also the one the table expects.
int hostile(const Args& a) {
    const std::string url = a.get("--url"), ca = a.get("--ca"), direct = a.get("--direct");
    int differ = 0, n = 0;
    for (const auto& c : testkit::hostileSubmissions()) {
        const std::string from = sourceAddress(4, std::uint64_t(n++));
        auto viaProxy = clientFrom(url, ca, from)->Post("/api/benchmarks", c.body, c.contentType.c_str());
        auto directly = clientFrom(direct, "", "127.0.0.1")
                            ->Post("/api/benchmarks", {{"X-Forwarded-For", from}}, c.body, c.contentType.c_str());
        const bool same = viaProxy && directly && viaProxy->status == directly->status &&
                          viaProxy->body == directly->body && viaProxy->status == c.status && viaProxy->body == c.sentence;
        if (!same) {
            differ++;
            std::printf("    %s: through nginx %d '%s', directly %d '%s', expected %d\n", c.name.c_str(),
                        viaProxy ? viaProxy->status : 0, viaProxy ? viaProxy->body.substr(0, 80).c_str() : "",
                        directly ? directly->status : 0, directly ? directly->body.substr(0, 80).c_str() : "", c.status);
        }
    }
    // A body in chunks, 4 MiB, has no length up front: refused the same way.
    std::size_t sent = 0;
    auto chunked = clientFrom(url, ca, sourceAddress(4, std::uint64_t(n++)))
                       ->Post("/api/benchmarks",
                              [&](std::size_t, httplib::DataSink& sink) {
                                  const std::string piece(16 * 1024, ' ');
                                  if (sent < 4 * 1024 * 1024 && sink.is_writable()) {
                                      sent += piece.size();
                                      return sink.write(piece.data(), piece.size());
                                  }
                                  sink.done();
                                  return true;
                              },
                              "application/json");
    if (!chunked || chunked->status != 413 || chunked->body != refusal::kTooLarge) {
        differ++;
        std::printf("    chunked 4 MiB: through nginx %d '%s'\n", chunked ? chunked->status : 0,
                    chunked ? chunked->body.substr(0, 80).c_str() : "");
    }
    std::printf("  %-58s %d of %d (goal 0)  %s\n", "hostile submissions answered differently through nginx:", differ,
                n, differ ? "MISSED" : "ok");
    return differ ? 1 : 0;
}

// Connections that send their head a byte at a time, each byte well within any time-out
// between two reads: every one must be cut off before its head is complete, and in time.
int drip(const Args& a) {
    const std::string url = a.get("--url");
    const bool tls = url.rfind("https://", 0) == 0;
    const int port = std::stoi(url.substr(url.rfind(':') + 1));
    const auto connections = std::size_t(a.number("--connections", 200));
    const auto interval = std::chrono::milliseconds(int(a.number("--interval-ms", 1500)));
    const double limit = a.number("--limit-s", 12);
    const std::string head = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: drip\r\n\r\n";
    struct Drip {
        std::unique_ptr<testkit::RawConnection> conn;
        std::size_t sent = 0;
        double endedAfter = -1;  // seconds; -1 while open
    };
    std::vector<Drip> drips(connections);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < connections; ++i) {
        drips[i].conn = std::make_unique<testkit::RawConnection>(port, tls, sourceAddress(5, i));
        if (!drips[i].conn->ok()) drips[i].endedAfter = 0;
    }
    // Until all have ended, or past the goal by as much again.
    for (std::size_t open = connections; open > 0 && msSince(start) < 2000 * limit;) {
        const auto tick = Clock::now();
        open = 0;
        for (Drip& d : drips) {
            if (d.endedAfter >= 0) continue;
            if (d.conn->readable(0) || d.sent == head.size() || !d.conn->send(head.substr(d.sent, 1))) {
                d.endedAfter = msSince(start) / 1000;
                continue;
            }
            ++d.sent;
            ++open;
        }
        // Ends are seen within 100 ms, not at the next byte.
        while (Clock::now() < tick + interval) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (Drip& d : drips) {
                if (d.endedAfter < 0 && d.conn->readable(0)) d.endedAfter = msSince(start) / 1000;
            }
        }
    }
    std::size_t cut = 0;
    double longest = 0;
    for (const Drip& d : drips) {
        if (d.endedAfter > 0 && d.sent < head.size()) ++cut;
        longest = std::max(longest, d.endedAfter < 0 ? msSince(start) / 1000 : d.endedAfter);
    }
    const bool allCut = cut == connections, inTime = longest < limit;
    std::printf("  %-58s %zu of %zu (goal all)  %s\n", "dripping connections cut off before their head ended:", cut,
                connections, allCut ? "ok" : "MISSED");
    std::printf("  %-58s %.1f s (goal < %.0f s)  %s\n", "longest a dripping connection was held:", longest, limit,
                inTime ? "ok" : "MISSED");
    return allCut && inTime ? 0 : 1;
}

std::int64_t epochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Submissions and page requests at a steady rate each, and an instance's readiness every
// 100 ms, while the caller takes the database away: it writes "down MS" and "back MS"
// (milliseconds since the epoch) into the marks file as it stops and restarts it. Prints
// what was refused while it was down and how long after it was back until every request
// succeeded again.
int outage(const Args& a) {
    const std::string url = a.get("--url"), ca = a.get("--ca"), ready = a.get("--ready");
    const double rate = a.number("--rate", 20), seconds = a.number("--seconds", 15);
    const auto variant = std::uint64_t(a.number("--variant", 6000000));
    const std::size_t total = std::size_t(rate * seconds);
    struct Answer {
        std::int64_t sentMs;
        bool submission;
        int status;
        bool retryAfter;
    };
    std::mutex mutex;
    std::vector<Answer> answers;
    std::vector<std::pair<std::int64_t, int>> readiness;
    std::vector<std::string> ids;
    std::atomic<std::size_t> nextSubmission{0}, nextPage{0};
    std::atomic<bool> done{false};
    const auto start = Clock::now();
    auto paced = [&](std::atomic<std::size_t>& next, auto&& send) {
        for (std::size_t i; (i = next++) < total;) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(std::int64_t(double(i) * 1e6 / rate)));
            send(i);
        }
    };
    std::vector<std::thread> workers;
    for (int w = 0; w < 12; ++w) {
        workers.emplace_back([&] {
            paced(nextSubmission, [&](std::size_t i) {
                const std::string body = testkit::signedDocument(testkit::sampleInventory(variant + i));
                const std::int64_t sent = epochMs();
                auto r = clientFrom(url, ca, sourceAddress(5, variant / 1000000 * 10000 + i))
                             ->Post("/api/benchmarks", body, "application/json; charset=utf-8");
                std::lock_guard lock(mutex);
                answers.push_back({sent, true, r ? r->status : 0, r && r->has_header("Retry-After")});
                if (r && r->status == 201) ids.push_back(r->body);
            });
        });
        workers.emplace_back([&] {
            paced(nextPage, [&](std::size_t i) {
                const char* paths[] = {"/benchmarks", "/processors", "/graphics", "/benchmarks?page=2"};
                const std::int64_t sent = epochMs();
                auto r = clientFrom(url, ca, sourceAddress(6, i))->Get(paths[i % 4]);
                std::lock_guard lock(mutex);
                answers.push_back({sent, false, r ? r->status : 0, r && r->has_header("Retry-After")});
            });
        });
    }
    std::thread prober([&] {
        while (!done) {
            const std::int64_t sent = epochMs();
            auto r = clientFrom(ready, "", "127.0.0.1")->Get("/readyz");
            {
                std::lock_guard lock(mutex);
                readiness.emplace_back(sent, r ? r->status : 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    for (auto& t : workers) t.join();
    done = true;
    prober.join();
    std::ofstream(a.get("--ids"), std::ios::app) << [&] {
        std::string text;
        for (const auto& id : ids) text += id + "\n";
        return text;
    }();

    std::int64_t downMs = 0, backMs = 0;
    std::ifstream marks(a.get("--marks"));
    for (std::string word; marks >> word;) {
        std::int64_t ms = 0;
        marks >> ms;
        if (word == "down") downMs = ms;
        if (word == "back") backMs = ms;
    }
    if (!downMs || !backMs) {
        std::printf("  the marks file has no down and back times: the database was not restarted\n");
        return 1;
    }
    int whileDown = 0, refused = 0, noRetryAfter = 0, status500 = 0, otherwise = 0;
    std::int64_t lastFailureMs = 0;
    std::map<int, int> statuses;
    for (const Answer& r : answers) {
        statuses[r.status]++;
        const bool ok = r.status == 200 || r.status == 201;
        if (r.sentMs >= downMs && r.sentMs <= backMs) {
            ++whileDown;
            if (r.status == 503) ++refused;
        }
        if (r.status == 503 && !r.retryAfter) ++noRetryAfter;
        if (r.status == 500) ++status500;
        else if (!ok && r.status != 503) ++otherwise;
        if (!ok) lastFailureMs = std::max(lastFailureMs, r.sentMs);
    }
    const double recovery = std::max<std::int64_t>(0, lastFailureMs - backMs) / 1000.0;
    int readyDown = 0;
    std::int64_t readyAgainMs = 0;
    for (const auto& [sent, status] : readiness) {
        if (sent >= downMs && sent <= backMs && status == 503) ++readyDown;
        if (sent >= downMs && status != 200) readyAgainMs = std::max(readyAgainMs, sent);
    }
    std::printf("  %zu submissions and %zu page requests at %.0f/s each over %.0f s; PostgreSQL down %.1f s:",
                total, total, rate, seconds, double(backMs - downMs) / 1000.0);
    for (const auto& [status, count] : statuses) std::printf(" %s %d", status ? std::to_string(status).c_str() : "no-reply", count);
    std::printf("\n");
    std::printf("  %-58s %d of %d\n", "requests refused (503) while it was down:", refused, whileDown);
    int missed = 0;
    auto figure = [&](const char* name, const std::string& value, const char* goal, bool ok) {
        std::printf("  %-58s %s (goal %s)  %s\n", name, value.c_str(), goal, ok ? "ok" : "MISSED");
        missed += !ok;
    };
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f s", recovery);
    figure("every request answered again, after it was back:", buffer, "< 5 s", recovery < 5);
    figure("requests answered 500:", std::to_string(status500), "0", status500 == 0);
    figure("other answers but 200, 201 and 503 (no reply included):", std::to_string(otherwise), "0", otherwise == 0);
    figure("503 answers without Retry-After:", std::to_string(noRetryAfter), "0", noRetryAfter == 0);
    std::snprintf(buffer, sizeof buffer, "%.1f s", std::max<std::int64_t>(0, readyAgainMs - backMs) / 1000.0);
    figure("instance 1 /readyz 503 while it was down (probes):", std::to_string(readyDown), "> 0", readyDown > 0);
    std::printf("  %-58s %s\n", "instance 1 /readyz 200 again, after it was back:", buffer);
    return missed ? 1 : 0;
}

// Every identifier a client got with its 201 is served from the database.
int verify(const Args& a) {
    std::ifstream in(a.get("--ids"));
    int total = 0, missing = 0;
    auto c = clientFrom(a.get("--direct"), "", "127.0.0.1");
    c->set_keep_alive(true);
    for (std::string id; std::getline(in, id);) {
        if (id.empty()) continue;
        total++;
        auto r = c->Get(("/api/benchmarks/" + id).c_str());
        if (!r || r->status != 200) missing++;
    }
    std::printf("  %-58s %d of %d (goal 0)  %s\n", "identifiers given with a 201 but not stored:", missing, total,
                missing || !total ? "MISSED" : "ok");
    return missing || !total ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: deploy_client load|probe|hostile|verify|drip|outage --option value ...\n", stderr);
        return 2;
    }
    Args args;
    for (int i = 2; i + 1 < argc; i += 2) args.values[argv[i]] = argv[i + 1];
    const std::string mode = argv[1];
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);  // drips write to connections the far end has closed
    try {
        if (mode == "load") return load(args);
        if (mode == "probe") return probe(args);
        if (mode == "hostile") return hostile(args);
        if (mode == "verify") return verify(args);
        if (mode == "drip") return drip(args);
        if (mode == "outage") return outage(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "deploy_client: %s\n", e.what());
        return 2;
    }
    std::fprintf(stderr, "deploy_client: unknown mode '%s'\n", mode.c_str());
    return 2;
}
