// Tries the attacks of a review on the real service and prints what happened, one line
// each; asserts nothing. Run it against any build of tallyforge-results (an older one
// too, through TALLYFORGE_RESULTS_EXE) to compare before and after:
//   hostile_traffic [--database sqlite|postgresql]
//   hostile_traffic --paging N --sqlite-file PATH
// The second fills PATH with N results once (later runs reuse it) and times the newest
// page of all results, a deep page by number and the oldest page by position. The service runs with built-in HTTPS for the page attacks and with --plain-http, as an
// instance behind nginx does, for the address attacks.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "server/checks.h"
#include "server/recheck.h"
#include "server/store.h"

#include "server/listing.h"
#include "server/models.h"
#include "tests/server/service_testkit.h"

namespace {

using testkit::ServiceProcess;

void row(const char* attack, const std::string& outcome) { std::printf("  %-52s %s\n", attack, outcome.c_str()); }

// Lines of a CSV answer with a cell that a spreadsheet runs as a formula.
int formulaCells(const std::string& csv) {
    static const std::regex formula("(^|,)\"?[=+@-]");
    int n = 0;
    std::size_t start = 0;
    while (start < csv.size()) {
        const std::size_t end = csv.find("\r\n", start);
        if (std::regex_search(csv.substr(start, end - start), formula)) ++n;
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return n;
}

// Submissions accepted out of `tries`, each claiming another client address.
int acceptedWithForwardedFor(const ServiceProcess& service, int tries, const std::string& prefix, std::uint64_t seed) {
    int accepted = 0;
    for (int i = 0; i < tries; ++i) {
        const httplib::Headers claim = {{"X-Forwarded-For", prefix + std::to_string(i + 1)}};
        accepted += service.post(testkit::signedDocument(testkit::sampleInventory(seed + i)), "application/json", claim)
                        .status == 201;
    }
    return accepted;
}

// Fills the file with `results` stored results (through the store, in batches), unless
// it exists already.
bool fill(const std::string& path, std::uint64_t results) {
    // Not opened when it exists: an older build may be the one to read it.
    if (std::filesystem::exists(path)) return true;
    std::string why;
    auto store = openResultStore("sqlite:" + path, &why);
    if (!store) {
        std::printf("cannot open %s: %s\n", path.c_str(), why.c_str());
        return false;
    }
    std::vector<NewResult> batch;
    for (std::uint64_t i = 0; i < results; ++i) {
        const SystemInventory inv = testkit::sampleInventory(i);
        char digest[40];
        std::snprintf(digest, sizeof digest, "%032llx", static_cast<unsigned long long>(i));
        batch.push_back({digest, testkit::signedDocument(inv), 1700000000000 + std::int64_t(i / 4), rankedFiguresOf(inv),
                         kChecksVersion, {"", "", ""}, 0});
        if (batch.size() == 1000 || i + 1 == results) {
            store->insertBatch(batch);
            batch.clear();
        }
    }
    return true;
}

int paging(std::uint64_t results, const std::string& file) {
    if (!fill(file, results)) return 1;
    testkit::TempDir dir;
    ServiceProcess service(dir, {"sqlite:" + file, false, 0, {}});
    std::string why;
    if (!service.start(&why)) {
        std::printf("the service did not start: %s\n", why.c_str());
        return 1;
    }
    std::printf("all results with %llu stored (%s)\n", static_cast<unsigned long long>(results),
                testkit::serviceExecutable().c_str());
    const std::string deep = "/benchmarks?page=" + std::to_string((results + 49) / 50);
    for (const std::string& path : {std::string("/benchmarks"), deep, std::string("/benchmarks?oldest=1")}) {
        auto client = service.client();
        client->set_keep_alive(true);
        std::vector<double> ms;
        for (int i = 0; i < 100; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const auto reply = client->Get(path.c_str());
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            if (!reply || reply->status != 200) {
                std::printf("  %s failed\n", path.c_str());
                return 1;
            }
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  %-40s p50 %7.2f ms  p99 %7.2f ms\n", path.c_str(), ms[49], ms[98]);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string database = "sqlite";
    std::uint64_t pagingResults = 0;
    std::string sqliteFile;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::puts("usage: hostile_traffic [--database sqlite|postgresql]\n"
                      "       hostile_traffic --paging N --sqlite-file PATH\n"
                      "  Tries the review's attacks on tallyforge-results (TALLYFORGE_RESULTS_EXE picks the build)\n"
                      "  and prints what happened to each.");
            return 0;
        }
        if (a == "--database" && i + 1 < argc) {
            database = argv[++i];
        } else if (a == "--paging" && i + 1 < argc) {
            pagingResults = std::stoull(argv[++i]);
        } else if (a == "--sqlite-file" && i + 1 < argc) {
            sqliteFile = argv[++i];
        } else {
            std::fputs("usage: hostile_traffic [--database sqlite|postgresql]\n", stderr);
            return 2;
        }
    }
    if (pagingResults) {
        if (sqliteFile.empty()) {
            std::fputs("hostile_traffic: --paging needs --sqlite-file PATH\n", stderr);
            return 2;
        }
        return paging(pagingResults, std::filesystem::absolute(sqliteFile).string());
    }
    testkit::TempDir dir;
    std::unique_ptr<testkit::PostgresCluster> cluster;
    std::string why;
    bool notInstalled = false;
    const std::string url = testkit::benchDatabase(database, dir, cluster, &why, &notInstalled);
    if (url.empty()) {
        std::printf("PostgreSQL did not start: %s\n", why.c_str());
        return 1;
    }
    std::printf("hostile_traffic: %s against %s\n", testkit::serviceExecutable().c_str(), database.c_str());

    {
        ServiceProcess service(dir, {url, true, 0, {}});
        std::string why;
        if (!service.start(&why)) {
            std::printf("the service did not start: %s\n", why.c_str());
            return 1;
        }
        std::printf("built-in HTTPS on %s\n", service.baseUrl().c_str());

        SystemInventory refresh = testkit::sampleInventory(1);
        refresh.processor.name = R"(X"><meta http-equiv="refresh" content="0;url=https://evil.example/">)";
        const testkit::Reply stored = service.post(testkit::signedDocument(refresh));
        const testkit::Reply modelPage = service.get("/processors/" + processorKeyOf(refresh));
        const std::string& model = modelPage.body;
        const bool redirects = model.find("<meta http-equiv=\"refresh\"") != std::string::npos;
        row("meta refresh in a processor name, model page", "stored " + std::to_string(stored.status) + ", page " + std::to_string(modelPage.status) + " " +
                                                                (redirects ? "REDIRECTS its visitors (markup unescaped)"
                                                                           : "shows the text escaped"));

        SystemInventory formula = testkit::sampleInventory(2);
        formula.processor.name = R"(=HYPERLINK("https://evil.example","Intel"))";
        service.post(testkit::signedDocument(formula));
        std::string cells;
        for (const char* path : {"/benchmarks?format=csv", "/processors?format=csv", "/search?q=hyperlink&format=csv"}) {
            cells += std::string(cells.empty() ? "" : ", ") + path + " " + std::to_string(formulaCells(service.get(path).body));
        }
        row("=HYPERLINK(...) name, CSV rows with a formula cell", cells);
    }
    {
        ServiceProcess direct(dir, {url, false, 20, {}});
        std::string why;
        if (!direct.start(&why)) {
            std::printf("the plain-HTTP service did not start: %s\n", why.c_str());
            return 1;
        }
        std::printf("plain HTTP on %s, 20 submissions a minute per client\n", direct.baseUrl().c_str());
        row("30 submissions, a new X-Forwarded-For each, direct",
            std::to_string(acceptedWithForwardedFor(direct, 30, "198.51.100.", 100)) + " of 30 accepted");
    }
    {
        // As behind nginx on loopback: the proxy named where the build knows the option.
        ServiceProcess::Config config{url, false, 20, {}};
        if (std::getenv("TALLYFORGE_RESULTS_EXE") == nullptr) config.extraArgs = {"--trusted-proxy", "127.0.0.1"};
        ServiceProcess proxied(dir, config);
        std::string why;
        if (!proxied.start(&why)) {
            std::printf("the plain-HTTP service did not start: %s\n", why.c_str());
            return 1;
        }
        row("30 submissions from 30 addresses of one IPv6 /64", std::to_string(acceptedWithForwardedFor(proxied, 30, "2001:db8:1:2::", 200)) +
                                                                   " of 30 accepted");
    }
    return 0;
}
