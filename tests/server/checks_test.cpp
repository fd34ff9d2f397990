// The checks on every result: a table of documents and the checks each one raises, first
// through the pure function and then through the real service on both databases (the
// page's section, the /checks list); and flagged results leaving the standings of others,
// also results stored before the checks existed, and after a restart.

#include <signal.h>
#include <sqlite3.h>

#include <regex>

#include <nlohmann/json.hpp>

#include "server/checks.h"
#include "server/pages.h"
#include "server/recheck.h"
#include "tests/server/backend_fixture.h"

namespace {

using testkit::sampleInventory;
using testkit::ServiceProcess;
using Names = std::vector<std::string>;

struct CheckCase {
    std::string name;
    SystemInventory inventory;
    Names expected;
};

void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.name; }

void setCurve(std::vector<CpuTestResult>& list, std::vector<std::uint64_t> scores) {
    list.clear();
    for (std::size_t i = 0; i < scores.size(); ++i) list.push_back({kThreadCounts[i], scores[i]});
}

std::vector<CheckCase> checkCases() {
    std::vector<CheckCase> cases;
    std::uint64_t variant = 500;
    const auto add = [&](std::string name, auto change, Names expected) {
        SystemInventory inv = sampleInventory(variant++);
        change(inv);
        cases.push_back({std::move(name), std::move(inv), std::move(expected)});
    };
    const auto same = [](SystemInventory&) {};
    // A 2-thread processor as the whole run stored it while its own interface took processor
    // time: the curve climbs to 64 threads.
    const auto twoThreadsClimbing = [](SystemInventory& inv) {
        inv.processor.core_count = 2;
        inv.processor.thread_count = 2;
        setCurve(inv.score.cpu_integer, {1880, 2320, 3283, 3900, 4539, 4700, 4800, 4900, 4950, 5000, 5037});
        setCurve(inv.score.cpu_float, {3015, 5048, 5626, 6000, 6725, 7000, 7200, 7400, 7600, 7700, 7806});
    };

    add("clean", same, {});
    add("llvmpipe", [](SystemInventory& inv) { inv.gl_gpu = {"Mesa", "llvmpipe (LLVM 15.0.6, 256 bits)"}; },
        {"software-renderer"});
    add("gdi_generic", [](SystemInventory& inv) { inv.gl_gpu = {"Microsoft Corporation", "GDI Generic"}; },
        {"software-renderer"});
    add("swiftshader_in_vendor_any_case",
        [](SystemInventory& inv) { inv.gl_gpu = {"Google Inc. (SWIFTSHADER)", "ANGLE (Subzero Device)"}; },
        {"software-renderer"});
    add("basic_render_driver",
        [](SystemInventory& inv) { inv.gl_gpu = {"Microsoft", "Microsoft Basic Render Driver"}; },
        {"software-renderer"});
    add("microsoft_vendor_with_hardware",
        [](SystemInventory& inv) { inv.gl_gpu = {"Microsoft Corporation", "D3D12 (NVIDIA GeForce RTX 4070)"}; }, {});
    add("climbs_past_two_threads", twoThreadsClimbing, {"cpu-over-capacity"});
    add("at_the_capacity_limit",
        [](SystemInventory& inv) {
            inv.processor.thread_count = 2;
            setCurve(inv.score.cpu_integer, {1000, 2100, 2100, 2100, 2100, 2100, 2100, 2100, 2100, 2100, 2100});
            setCurve(inv.score.cpu_float, {1000, 2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000});
        },
        {});
    add("unknown_thread_count", [&](SystemInventory& inv) {
            twoThreadsClimbing(inv);
            inv.score.cpu_float[3].score = 100;  // would be a drop, too
            inv.processor.thread_count = 0;
        },
        {});
    add("drop_of_15_percent_at_8_threads", [](SystemInventory& inv) {
            inv.score.cpu_integer[4].score = inv.score.cpu_integer[3].score * 85 / 100;
        },
        {"cpu-disturbed"});
    add("drop_of_9_percent_at_8_threads", [](SystemInventory& inv) {
            inv.score.cpu_float[4].score = inv.score.cpu_float[3].score * 91 / 100;
        },
        {});
    add("drop_of_40_percent_past_the_thread_count",
        [](SystemInventory& inv) {
            inv.processor.thread_count = 8;
            setCurve(inv.score.cpu_integer, {1000, 2000, 3900, 5700, 7500, 4500, 4500, 4500, 4500, 4500, 4500});
            setCurve(inv.score.cpu_float, {1000, 2000, 3900, 5700, 7500, 7600, 7600, 7600, 7600, 7600, 7600});
        },
        {});
    add("single_thread_zero", [](SystemInventory& inv) { inv.score.cpu_integer[0].score = 0; },
        {"cpu-incomplete"});
    add("float_list_empty", [](SystemInventory& inv) { inv.score.cpu_float.clear(); }, {"cpu-incomplete"});
    add("integer_all_zero", [](SystemInventory& inv) { for (auto& r : inv.score.cpu_integer) r.score = 0; },
        {"cpu-incomplete"});
    add("scene_at_4_fps", [](SystemInventory& inv) { inv.score.gpu[2] = {3, 4, 3, 2}; }, {"gpu-too-slow"});
    add("scene_at_5_fps", [](SystemInventory& inv) { inv.score.gpu[2] = {3, 5, 4, 3}; }, {});
    add("software_renderer_at_0_fps_and_disturbed",
        [](SystemInventory& inv) {
            inv.gl_gpu = {"Mesa", "softpipe"};
            for (auto& g : inv.score.gpu) g = {g.id, 0, 0, 0};
            inv.score.cpu_float[1].score = inv.score.cpu_float[0].score / 2;
        },
        {"software-renderer", "cpu-disturbed", "gpu-too-slow"});
    return cases;
}

Names namesOf(const std::vector<const ResultCheck*>& checks) {
    Names out;
    for (const ResultCheck* c : checks) out.push_back(c->name);
    return out;
}

class CheckTable : public testing::TestWithParam<CheckCase> {};

TEST_P(CheckTable, RaisesExactlyItsChecks) {
    EXPECT_EQ(namesOf(checksOf(GetParam().inventory)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Documents, CheckTable, testing::ValuesIn(checkCases()),
                         [](const auto& info) { return info.param.name; });

TEST(CheckDefinitions, EveryCheckIsExplained) {
    for (const ResultCheck& c : allResultChecks()) {
        EXPECT_TRUE(std::regex_match(c.name, std::regex("[a-z]+(-[a-z]+)+"))) << c.name;
        EXPECT_GT(std::string(c.sentence).size(), 40u) << c.name;
        EXPECT_GT(std::string(c.remedy).size(), 30u) << c.name;
    }
}

// The thresholds reach the checks' sentences and the methodology page from the same
// constants the checks test against.
TEST(CheckDefinitions, ThresholdsArePrintedFromTheConstants) {
    const std::string factor = thresholdText(kOverCapacityFactor);
    const std::string share = thresholdText((100 - kDisturbedDropPercent) / 100.0);
    EXPECT_EQ(factor, "1.05");
    EXPECT_EQ(share, "0.9");
    const auto sentenceOf = [](const char* name) {
        for (const ResultCheck& c : allResultChecks()) {
            if (std::string(c.name) == name) return c.sentence;
        }
        return std::string();
    };
    EXPECT_NE(sentenceOf("cpu-over-capacity").find("more than " + factor + " times"), std::string::npos);
    EXPECT_NE(sentenceOf("cpu-disturbed").find(std::to_string(kDisturbedDropPercent) + "\xC2\xA0% below"), std::string::npos);
    EXPECT_NE(sentenceOf("gpu-too-slow").find("under " + std::to_string(kSlowestComparableFps) + " frames"), std::string::npos);
    const std::string page = renderMethodologyPage();
    EXPECT_NE(page.find("above " + factor + " &#215; min("), std::string::npos);
    EXPECT_NE(page.find("below " + share + " &#215; the best score"), std::string::npos);
    EXPECT_NE(page.find("under " + std::to_string(kSlowestComparableFps) + " frames per second.</li>"), std::string::npos);
}

// The data-check names of the page's check elements, in page order.
Names checksOnPage(const std::string& page) {
    Names out;
    const std::regex element("<div class=\"check\" data-check=\"([^\"]*)\">");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), element); it != std::sregex_iterator(); ++it) {
        out.push_back((*it)[1]);
    }
    return out;
}

std::string standingOf(const std::string& page, const std::string& figure) {
    const auto at = page.find("<div class=\"rank\" data-figure=\"" + figure + "\">");
    if (at == std::string::npos) return "(none)";
    const auto p = page.find("<p>", at) + 3;
    return page.substr(p, page.find("</p>", p) - p);
}

constexpr const char* kNotCounted = "it does not count in the standings of other results";

using ChecksService = BackendTest;

TEST_P(ChecksService, EveryDocumentShowsItsChecks) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    for (const CheckCase& c : checkCases()) {
        SCOPED_TRACE(c.name);
        const testkit::Reply created = service.post(testkit::signedDocument(c.inventory));
        ASSERT_EQ(created.status, 201) << created.body;

        const testkit::Reply list = service.get("/api/benchmarks/" + created.body + "/checks");
        EXPECT_EQ(list.status, 200);
        EXPECT_EQ(list.contentType, "application/json; charset=utf-8");
        EXPECT_EQ(nlohmann::json::parse(list.body, nullptr, false), nlohmann::json(c.expected)) << list.body;

        const std::string page = service.get("/benchmarks/" + created.body).body;
        EXPECT_EQ(checksOnPage(page), c.expected);
        EXPECT_NE(page.find("<a href=\"/methodology\">"), std::string::npos) << "linked from every result page";
        if (c.expected.empty()) {
            EXPECT_EQ(page.find("class=\"check\""), std::string::npos);
            EXPECT_EQ(page.find("id=\"checks\""), std::string::npos);
            EXPECT_EQ(page.find(kNotCounted), std::string::npos);
        } else {
            EXPECT_NE(page.find("<section class=\"card checks\" id=\"checks\">"), std::string::npos);
            EXPECT_NE(page.find(kNotCounted), std::string::npos);
        }
    }
    const testkit::Reply unknown = service.get("/api/benchmarks/AAAAAAAAAAAA/checks");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.body, "No benchmark result has this identifier.");
}

TEST_P(ChecksService, FlaggedResultsLeaveTheStandingsOfOthers) {
    // Three clean results, each figure a little higher than the one before.
    std::vector<std::string> clean;
    const auto flagged = [](std::uint64_t variant) {
        SystemInventory inv = sampleInventory(variant);
        for (auto& r : inv.score.cpu_integer) r.score *= 3;  // faster than every clean one...
        inv.score.cpu_float[0].score = sampleInventory(1).score.cpu_float[0].score;  // the middle one's
        inv.score.gpu[0] = {1, 9000, 8000, 7000};
        inv.gl_gpu = {"Mesa", "llvmpipe (LLVM 15.0.6, 256 bits)"};  // ...but drawn in software
        return inv;
    };
    const auto middle = [&](const ServiceProcess& s) { return s.get("/benchmarks/" + clean[1]).body; };
    {
        ServiceProcess service(dir_, config());
        std::string why;
        ASSERT_TRUE(service.start(&why)) << why;
        for (std::uint64_t v = 0; v < 3; ++v) {
            const testkit::Reply r = service.post(testkit::signedDocument(sampleInventory(v)));
            ASSERT_EQ(r.status, 201) << r.body;
            clean.push_back(r.body);
        }
        const testkit::Reply f = service.post(testkit::signedDocument(flagged(10)));
        ASSERT_EQ(f.status, 201) << f.body;

        const std::string page = middle(service);
        EXPECT_EQ(standingOf(page, "cpu_integer_single"), "Faster than 50&#160;% of results")
            << "one of the two other clean results, the flagged one not counted";
        EXPECT_EQ(standingOf(page, "scene1_average"), "Faster than 50&#160;% of results");
        // The flagged result's own standing is among the counted results.
        const std::string own = service.get("/benchmarks/" + f.body).body;
        EXPECT_EQ(standingOf(own, "cpu_integer_single"), "Faster than all other results");
        EXPECT_EQ(standingOf(own, "cpu_float_single"), "Faster than 33&#160;% of results");
        EXPECT_EQ(service.stop(SIGTERM), 0);
    }

    // A flagged result stored before the checks existed: its figures went into the index.
    {
        const SystemInventory old = flagged(11);
        auto store = openStore();
        ASSERT_TRUE(store);
        store->insertBatch({NewResult{"old-digest", testkit::signedDocument(old), 1, rankFiguresOf(old.score), 0, {}, 0}});
    }
    ServiceProcess restarted(dir_, config());
    std::string why;
    ASSERT_TRUE(restarted.start(&why)) << why;
    const std::string page = middle(restarted);
    EXPECT_EQ(standingOf(page, "cpu_integer_single"), "Faster than 50&#160;% of results")
        << "neither flagged result counts after the restart";
    EXPECT_EQ(standingOf(page, "scene1_average"), "Faster than 50&#160;% of results");
    EXPECT_NE(restarted.log().find("standings: checked 1 result stored under older checks"), std::string::npos) << restarted.log();

    const auto sorted = openStore()->sortedFigures();
    EXPECT_EQ(sorted[0].size(), 3u) << "the store ranks only the clean results";
    EXPECT_TRUE(openStore()->checkedBefore(kChecksVersion, 10).empty());
}

// A database of the first schema, before the checks: the upgrade adds the column and the
// service checks both results once, leaving the flagged one out of the standings.
TEST(ChecksUpgrade, ResultsOfTheFirstSchemaAreChecked) {
    testkit::TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("results.db").c_str(), &db), SQLITE_OK);
    std::string sql = "CREATE TABLE schema_version (version BIGINT NOT NULL); INSERT INTO schema_version VALUES (1);";
    for (const std::string& step : schemaSteps().at(0)) sql += step + ";";
    SystemInventory slow = sampleInventory(1);
    slow.score.gpu[0] = {1, 3, 2, 1};
    std::uint64_t n = 0;
    for (const SystemInventory& inv : {sampleInventory(0), slow}) {
        const RankFigures f = rankFiguresOf(inv.score);
        const std::string i = std::to_string(n++);
        std::string row = "INSERT INTO results VALUES ('oldresult00" + i + "', 'digest" + i + "', '" +
                          testkit::signedDocument(inv) + "', " + i;
        for (const auto& v : f.values) row += ", " + std::to_string(*v);
        sql += row + ");";
    }
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_close(db);

    ServiceProcess service(dir, {"sqlite:" + dir.file("results.db"), false, 0, {}});
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    EXPECT_NE(service.log().find("standings: checked 2 results stored under older checks"), std::string::npos)
        << service.log();
    EXPECT_EQ(service.get("/api/benchmarks/oldresult000/checks").body, "[]");
    EXPECT_EQ(service.get("/api/benchmarks/oldresult001/checks").body, "[\"gpu-too-slow\"]");
    std::string store;
    const auto opened = openResultStore("sqlite:" + dir.file("results.db"), &store);
    ASSERT_TRUE(opened) << store;
    for (const auto& column : opened->sortedFigures()) EXPECT_EQ(column.size(), 1u) << "only the clean result";
}

INSTANTIATE_TEST_SUITE_P(Databases, ChecksService, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

}  // namespace
