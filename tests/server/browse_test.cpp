// Models, standings among a model's results, a machine's own history and the machine
// identifier kept out of every answer: the normalisation directly, the rest against the
// real service on both databases.

#include <signal.h>

#include <algorithm>
#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "core/document.h"
#include "server/listing.h"
#include "server/models.h"
#include "tests/server/backend_fixture.h"

namespace {

using testkit::sampleInventory;
using testkit::ServiceProcess;

// ---- model names --------------------------------------------------------------------

struct NameCase {
    const char* reported;
    const char* name;
    const char* key;
};

TEST(ModelNames, ProcessorsBecomeOneKeyPerModel) {
    const NameCase cases[] = {
        {"Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz", "Intel Core i7-8700", "intel-core-i7-8700"},
        {"  Intel Core   i7-8700 ", "Intel Core i7-8700", "intel-core-i7-8700"},
        {"13th Gen Intel(R) Core(TM) i7-13700K", "13th Gen Intel Core i7-13700K", "13th-gen-intel-core-i7-13700k"},
        {"AMD Ryzen 7 7800X3D 8-Core Processor", "AMD Ryzen 7 7800X3D", "amd-ryzen-7-7800x3d"},
        {"AMD Ryzen 7 5700G with Radeon Graphics", "AMD Ryzen 7 5700G", "amd-ryzen-7-5700g"},
        {"Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz", "Intel Xeon CPU E5-2680 v4", "intel-xeon-cpu-e5-2680-v4"},
        {"Intel\xC2\xAE Core\xE2\x84\xA2 i5-1135G7 @ 2.40GHz", "Intel Core i5-1135G7", "intel-core-i5-1135g7"},
        {"Apple M2", "Apple M2", "apple-m2"},
        {"", "", ""},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.reported);
        EXPECT_EQ(processorModelName(c.reported), c.name);
        EXPECT_EQ(modelKey(processorModelName(c.reported)), c.key);
    }
}

TEST(ModelNames, RenderersLoseTheirDriverSuffixes) {
    const NameCase cases[] = {
        {"NVIDIA GeForce RTX 4070/PCIe/SSE2", "NVIDIA GeForce RTX 4070", "nvidia-geforce-rtx-4070"},
        {"AMD Radeon RX 6800 XT (radeonsi, navi21, LLVM 15.0.6, DRM 3.49, 6.1.0-18-amd64)", "AMD Radeon RX 6800 XT",
         "amd-radeon-rx-6800-xt"},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "Mesa Intel UHD Graphics 620", "mesa-intel-uhd-graphics-620"},
        {"llvmpipe (LLVM 15.0.6, 256 bits)", "llvmpipe", "llvmpipe"},
        {"AMD Radeon(TM) Graphics", "AMD Radeon Graphics", "amd-radeon-graphics"},
        {"Radeon RX 580 Series (POLARIS10, DRM 3.42.0, 5.15.0, LLVM 12.0.0)", "Radeon RX 580 Series",
         "radeon-rx-580-series"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.reported);
        EXPECT_EQ(graphicsModelName(c.reported), c.name);
        EXPECT_EQ(modelKey(graphicsModelName(c.reported)), c.key);
    }
}

TEST(ModelNames, GraphicsKeysCarryTheResolution) {
    SystemInventory inv = sampleInventory(0);
    EXPECT_EQ(graphicsKeyOf(inv), "nvidia-geforce-rtx-4070@2560x1440");
    inv.width = 1920;
    inv.height = 1080;
    EXPECT_EQ(graphicsKeyOf(inv), "nvidia-geforce-rtx-4070@1920x1080");
}

TEST(ModelNames, KeptOnlyForModelsWithRankedResults) {
    ModelIndex index;
    RankFigures figures;
    figures.values[kIntegerBest] = 1000;
    index.reset({{"real-model", "", figures}});
    // A name for a model with no ranked result (refused, flagged, forged) is not kept.
    for (int i = 0; i < 1000; ++i) index.setName("forged-" + std::to_string(i), "Forged " + std::to_string(i));
    index.setName("real-model", "Real Model");
    EXPECT_EQ(index.nameOf("forged-1"), "forged-1");
    EXPECT_EQ(index.nameOf("real-model"), "Real Model");
    index.add({"added-model", "", figures});
    index.setName("added-model", "Added Model");
    EXPECT_EQ(index.nameOf("added-model"), "Added Model");
    // A reload without the model drops its name.
    index.reset({{"real-model", "", figures}});
    EXPECT_EQ(index.nameOf("added-model"), "added-model");
    EXPECT_EQ(index.nameOf("real-model"), "Real Model");
}

// ---- against the service --------------------------------------------------------------

class BrowseService : public BackendTest {};

// One machine's run: the given identifier and single-thread integer score.
SystemInventory run(const std::string& machine, std::uint64_t intSingle, std::uint64_t variant) {
    SystemInventory inv = sampleInventory(variant);
    inv.windows_uuid = machine;
    const std::uint64_t single = inv.score.cpu_integer[0].score;
    for (auto& r : inv.score.cpu_integer) r.score = r.score * intSingle / single;
    return inv;
}

std::string section(const std::string& page, const std::string& id) {
    const auto start = page.find("<section class=\"card\" id=\"" + id + "\"");
    if (start == std::string::npos) return {};
    return page.substr(start, page.find("</section>", start) - start);
}

// The verdict shown for one figure in the model standing.
std::string verdictOf(const std::string& standing, const std::string& figure) {
    std::smatch m;
    const std::regex row("<tr data-figure=\"" + figure + "\">.*?class=\"verdict ([a-z]+)\"(?: data-verdict=\"([^\"]*)\")?");
    if (!std::regex_search(standing, m, row)) return "(no row)";
    return m[2].matched ? m[2].str() : "none";
}

TEST_P(BrowseService, MachineIdentifierIsNeverPublishedButGroupsItsRuns) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    const std::string mine = "4C4C4544-0042-3510-8052-AAAABBBBCCCC";
    const std::string other = "11112222-3333-4444-5555-666677778888";
    std::vector<std::string> ids;
    for (std::uint64_t v = 0; v < 3; ++v) {
        const testkit::Reply r = service.post(testkit::signedDocument(run(mine, 1800 + 10 * v, v)));
        ASSERT_EQ(r.status, 201) << r.body;
        ids.push_back(r.body);
    }
    const testkit::Reply stranger = service.post(testkit::signedDocument(run(other, 1900, 7)));
    ASSERT_EQ(stranger.status, 201);

    // Every answer about these results, in full: none names either machine.
    for (const std::string& path : std::vector<std::string>{"/api/benchmarks/" + ids[2], "/api/benchmarks/" + ids[2] + "/checks", "/benchmarks/" + ids[2],
          "/benchmarks/" + ids[0], "/benchmarks/" + stranger.body, std::string("/benchmarks"), "/api/benchmarks/" + stranger.body}) {
        const testkit::Reply r = service.get(path);
        ASSERT_EQ(r.status, 200) << path;
        EXPECT_EQ(r.body.find(mine), std::string::npos) << path;
        EXPECT_EQ(r.body.find(other), std::string::npos) << path;
        EXPECT_EQ(r.body.find("windows_uuid"), std::string::npos) << path;
    }

    // The answer is the stored document less the identifier; the stored one still verifies.
    const auto stored = openStore()->find(ids[2]);
    ASSERT_TRUE(stored);
    auto document = nlohmann::json::parse(stored->document);
    EXPECT_EQ(document.at("windows_uuid"), mine);
    const auto parsed = parseResultDocument(document);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(computeResultDigest(parsed->inventory, testkit::salt().data(), testkit::salt().size()),
              document.at("uuid").get<std::string>());
    document.erase("windows_uuid");
    EXPECT_EQ(nlohmann::json::parse(service.get("/api/benchmarks/" + ids[2]).body), document);

    // The latest run lists the two earlier ones, newest first, and nothing of the stranger.
    const std::string history = section(service.get("/benchmarks/" + ids[2]).body, "history");
    ASSERT_FALSE(history.empty());
    const auto first = history.find("/benchmarks/" + ids[1]);
    const auto second = history.find("/benchmarks/" + ids[0]);
    EXPECT_NE(first, std::string::npos) << history;
    EXPECT_NE(second, std::string::npos) << history;
    EXPECT_LT(first, second) << "newest first";
    EXPECT_EQ(history.find(ids[2]), std::string::npos) << "not itself";
    EXPECT_EQ(history.find(stranger.body), std::string::npos);
    EXPECT_NE(history.find("1,800"), std::string::npos) << "the earlier run's figures:\n" << history;
    EXPECT_NE(section(service.get("/benchmarks/" + stranger.body).body, "history").find("first result of this machine"),
              std::string::npos);
    EXPECT_EQ(service.stop(SIGTERM), 0);

    // The key is made once: after a restart the same machine still finds its runs.
    ServiceProcess again(dir_, config());
    ASSERT_TRUE(again.start(&why)) << why;
    EXPECT_NE(section(again.get("/benchmarks/" + ids[0]).body, "history").find(ids[2]), std::string::npos);
}

TEST_P(BrowseService, StandingsAmongTheSameModel) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    // Seven runs of one processor, single-thread integer 1000..1600; the reported names
    // differ only in marks and the clock suffix.
    std::vector<std::string> ids;
    for (std::uint64_t v = 0; v < 7; ++v) {
        SystemInventory inv = run("00000000-0000-0000-0000-00000000000" + std::to_string(v), 1000 + 100 * v, v);
        inv.processor.name = v % 2 ? "Intel(R) Core(TM) i7-13700K CPU @ 3.40GHz" : "Intel Core i7-13700K";
        const testkit::Reply r = service.post(testkit::signedDocument(inv));
        ASSERT_EQ(r.status, 201) << r.body;
        ids.push_back(r.body);
    }
    // A flagged run of the same processor, far faster: it must count nowhere.
    SystemInventory flagged = run("99999999-0000-0000-0000-000000000000", 9000, 40);
    flagged.processor.name = "Intel Core i7-13700K";
    flagged.gl_gpu.renderer = "llvmpipe (LLVM 15.0.6, 256 bits)";
    const testkit::Reply f = service.post(testkit::signedDocument(flagged));
    ASSERT_EQ(f.status, 201);
    // Three runs of another processor: too few for a verdict.
    std::string fewId;
    for (std::uint64_t v = 0; v < 3; ++v) {
        SystemInventory inv = run("77777777-0000-0000-0000-00000000000" + std::to_string(v), 2000, 50 + v);
        inv.processor.name = "AMD Ryzen 7 7800X3D 8-Core Processor";
        const testkit::Reply r = service.post(testkit::signedDocument(inv));
        ASSERT_EQ(r.status, 201);
        fewId = r.body;
    }

    const std::string slowest = section(service.get("/benchmarks/" + ids[0]).body, "model-standing");
    ASSERT_FALSE(slowest.empty());
    EXPECT_NE(slowest.find("Among 6 results with an Intel Core i7-13700K, yours is faster than 0&#160;%"),
              std::string::npos) << slowest;
    EXPECT_EQ(verdictOf(slowest, "cpu_integer_single"), "below what this model usually reaches");
    const std::string middle = section(service.get("/benchmarks/" + ids[3]).body, "model-standing");
    EXPECT_EQ(verdictOf(middle, "cpu_integer_single"), "as expected");
    const std::string fastest = section(service.get("/benchmarks/" + ids[6]).body, "model-standing");
    EXPECT_EQ(verdictOf(fastest, "cpu_integer_single"), "above");
    EXPECT_NE(fastest.find("faster than 100&#160;%"), std::string::npos) << "the flagged 9000 is not counted";
    // The graphics standing compares the seven at one resolution.
    EXPECT_NE(middle.find("all at 2560&#215;1440"), std::string::npos) << middle;

    const std::string few = section(service.get("/benchmarks/" + fewId).body, "model-standing");
    EXPECT_NE(few.find("Among 2 results with an AMD Ryzen 7 7800X3D"), std::string::npos) << few;
    EXPECT_NE(few.find("fewer than 5"), std::string::npos);
    EXPECT_EQ(verdictOf(few, "cpu_integer_single"), "none");

    // The flagged result is compared with the seven, and says it does not count.
    const std::string own = section(service.get("/benchmarks/" + f.body).body, "model-standing");
    EXPECT_NE(own.find("Among 7 results with"), std::string::npos) << own;
    EXPECT_NE(own.find("This result is flagged"), std::string::npos);
    EXPECT_EQ(service.stop(SIGTERM), 0);

    // After a restart the standings come from the store, flagged result still left out.
    ServiceProcess again(dir_, config());
    ASSERT_TRUE(again.start(&why)) << why;
    EXPECT_EQ(section(again.get("/benchmarks/" + ids[0]).body, "model-standing"), slowest);
}

// A CSV answer read back: RFC 4180 quoting, CRLF line ends.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
            ++i;
        } else {
            field += c;
        }
    }
    if (rows.back().empty()) rows.pop_back();
    return rows;
}

TEST_P(BrowseService, BrowseSearchPageCompareAndExport) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    // 55 results of one processor, two of another whose name needs quoting in CSV.
    std::vector<std::string> ids;
    for (std::uint64_t v = 0; v < 55; ++v) {
        const testkit::Reply r = service.post(testkit::signedDocument(run("00000000-0000-0000-0001-" + std::to_string(100000000000 + v), 1000 + v, v)));
        ASSERT_EQ(r.status, 201);
        ids.push_back(r.body);
    }
    std::vector<std::string> quotedIds;
    for (std::uint64_t v = 0; v < 2; ++v) {
        SystemInventory inv = run("00000000-0000-0000-0002-00000000000" + std::to_string(v), 3000, 70 + v);
        inv.processor.name = "Sample \"Quote\", Model 9";
        inv.gl_gpu.renderer = "Radeon RX 580 Series (POLARIS10, DRM 3.42.0)";
        inv.width = 1920;
        inv.height = 1080;
        const testkit::Reply r = service.post(testkit::signedDocument(inv));
        ASSERT_EQ(r.status, 201);
        quotedIds.push_back(r.body);
    }

    // The processor list, sorted by results (most first), and as CSV and JSON.
    const std::string list = service.get("/processors").body;
    const auto intel = list.find("href=\"/processors/13th-gen-intel-core-i7-13700k\"");
    const auto sample = list.find("href=\"/processors/sample-quote-model-9\"");
    ASSERT_NE(intel, std::string::npos) << list;
    ASSERT_NE(sample, std::string::npos);
    EXPECT_LT(intel, sample);
    const std::string byName = service.get("/processors?sort=model&order=asc").body;
    EXPECT_LT(byName.find("/processors/13th-gen"), byName.find("/processors/sample-quote"));
    EXPECT_GT(service.get("/processors?sort=model&order=desc").body.find("/processors/13th-gen"),
              service.get("/processors?sort=model&order=desc").body.find("/processors/sample-quote"));

    const testkit::Reply csv = service.get("/processors?format=csv");
    EXPECT_EQ(csv.contentType, "text/csv; charset=utf-8");
    const auto table = parseCsv(csv.body);
    ASSERT_EQ(table.size(), 3u) << csv.body;
    EXPECT_EQ(table[0], (std::vector<std::string>{"model", "results", "median_cpu_integer_single", "median_cpu_integer_best",
                                                  "median_cpu_float_single", "median_cpu_float_best"}));
    EXPECT_EQ(table[1][0], "13th Gen Intel Core i7-13700K");
    EXPECT_EQ(table[1][1], "55");
    EXPECT_EQ(table[1][2], "1027") << "median of 1000..1054";
    EXPECT_EQ(table[2][0], "Sample \"Quote\", Model 9");
    EXPECT_EQ(table[2][1], "2");
    const auto json = nlohmann::json::parse(service.get("/graphics?format=json").body);
    ASSERT_EQ(json.size(), 2u) << json.dump();
    EXPECT_EQ(json[0]["model"], "NVIDIA GeForce RTX 4070");
    EXPECT_EQ(json[0]["resolution"], "2560x1440");
    EXPECT_EQ(json[1]["model"], "Radeon RX 580 Series");
    EXPECT_EQ(json[1]["resolution"], "1920x1080");

    // A model page: the histogram and its results, linked.
    const std::string model = service.get("/processors/13th-gen-intel-core-i7-13700k").body;
    EXPECT_NE(model.find("<svg id=\"histogram\""), std::string::npos);
    EXPECT_NE(model.find("/benchmarks/" + ids[54]), std::string::npos);
    EXPECT_EQ(model.find("/benchmarks/" + quotedIds[0]), std::string::npos);
    EXPECT_EQ(service.get("/graphics/radeon-rx-580-series@1920x1080").status, 200);
    EXPECT_EQ(service.get("/processors/no-such-model").status, 404);
    EXPECT_EQ(service.get("/graphics/13th-gen-intel-core-i7-13700k").status, 404) << "a processor is no graphics model";

    // All results, 50 a page, newest first, paged by the links each page writes; many
    // results share a millisecond, so the identifier must break the ties.
    const auto linkOf = [](const std::string& html, const std::string& label) {
        const std::size_t at = html.find(label);
        if (at == std::string::npos) return std::string();
        const std::size_t href = html.rfind("href=\"", at);
        return html.substr(href + 6, html.find('"', href + 6) - href - 6);
    };
    const std::string html1 = service.get("/benchmarks").body;
    EXPECT_EQ(linkOf(html1, "Newer"), "");
    const std::string olderLink = linkOf(html1, "Older &#8594;");
    ASSERT_EQ(olderLink.rfind("/benchmarks?older=", 0), 0u) << html1;
    const auto page1 = parseCsv(service.get("/benchmarks?format=csv").body);
    const auto page2 = parseCsv(service.get(olderLink + "&format=csv").body);
    ASSERT_EQ(page1.size(), 51u);
    ASSERT_EQ(page2.size(), 8u);
    // Newest first: the submission times never rise from one row to the next.
    std::vector<std::string> times;
    for (const auto* p : {&page1, &page2}) {
        for (std::size_t r = 1; r < p->size(); ++r) times.push_back((*p)[r][1]);
    }
    EXPECT_TRUE(std::is_sorted(times.rbegin(), times.rend()));
    std::set<std::string> seen;
    for (const auto* p : {&page1, &page2}) {
        for (std::size_t r = 1; r < p->size(); ++r) seen.insert((*p)[r][0]);
    }
    EXPECT_EQ(seen.size(), 57u) << "every result once";
    const std::string html2 = service.get(olderLink).body;
    EXPECT_EQ(linkOf(html2, "Older &#8594;"), "") << "the last page";
    const std::string newerLink = linkOf(html2, "&#8592; Newer");
    ASSERT_EQ(newerLink.rfind("/benchmarks?newer=", 0), 0u) << html2;
    EXPECT_EQ(parseCsv(service.get(newerLink + "&format=csv").body), page1) << "back to the first page";
    // The oldest page: the 50 oldest, in list order, with a way back and none further.
    const auto oldest = parseCsv(service.get("/benchmarks?oldest=1&format=csv").body);
    ASSERT_EQ(oldest.size(), 51u);
    EXPECT_EQ(oldest.back(), page2.back());
    EXPECT_EQ(oldest[43], page1[50]) << "7 from the second page, then the end of the first";
    EXPECT_EQ(linkOf(service.get("/benchmarks?oldest=1").body, "Older &#8594;"), "");
    // Positions that are not ours are the first page, not an error or a scan.
    for (const char* bad : {"older=x", "older=-AAAAAAAAAAAA", "older=99999999999999999999-AAAAAAAAAAAA",
                            "newer=1-AAAA", "older=1-AAAAAAAAAAA%27", "page=999999999"}) {
        EXPECT_EQ(parseCsv(service.get(std::string("/benchmarks?format=csv&") + bad).body), page1) << bad;
    }

    // Search by model name words and by a result's address.
    const std::string found = service.get("/search?q=i7%2013700K").body;
    EXPECT_NE(found.find("/processors/13th-gen-intel-core-i7-13700k"), std::string::npos);
    EXPECT_EQ(found.find("/processors/sample-quote"), std::string::npos);
    const std::string radeon = service.get("/search?q=radeon").body;
    EXPECT_NE(radeon.find("/graphics/radeon-rx-580-series%401920x1080"), std::string::npos) << radeon;
    EXPECT_NE(radeon.find("/benchmarks/" + quotedIds[0]), std::string::npos);
    const auto byAddress = parseCsv(service.get("/search?format=csv&q=" + urlEncode("https://example.org/benchmarks/" + ids[7])).body);
    ASSERT_GE(byAddress.size(), 2u);
    EXPECT_EQ(byAddress[1][0], ids[7]);
    EXPECT_NE(service.get("/search?q=%3Cscript%3E").body.find("&lt;script&gt;"), std::string::npos);

    // Compare: figures with differences, both curves, the machines with what differs.
    const std::string cmp = service.get("/compare?a=" + ids[0] + "&b=" + quotedIds[0]).body;
    EXPECT_NE(cmp.find("<polyline class=\"s-int\" data-series=\"a\""), std::string::npos);
    EXPECT_NE(cmp.find("data-series=\"b\""), std::string::npos);
    EXPECT_NE(cmp.find("<tr data-figure=\"cpu_integer_single\"><td>Integer, one thread</td><td class=\"num\">1,000</td>"
                       "<td class=\"num\">3,000</td><td class=\"num\"><span class=\"diff up\">+200.0&#160;%</span>"),
              std::string::npos) << cmp;
    EXPECT_NE(cmp.find("<tr class=\"differs\"><th scope=\"row\">Screen"), std::string::npos);
    EXPECT_NE(cmp.find("<tr><th scope=\"row\">Operating system"), std::string::npos) << "the same OS is not marked";
    EXPECT_NE(cmp.find("different resolutions"), std::string::npos);
    // B given as a page address; and the model's median result (1027 of 1000..1054).
    EXPECT_EQ(service.get("/compare?a=" + ids[0] + "&b=" + urlEncode(service.baseUrl() + "/benchmarks/" + ids[3])).status, 200);
    const std::string median = service.get("/compare?a=" + ids[0] + "&b=median").body;
    EXPECT_NE(median.find("/benchmarks/" + ids[27]), std::string::npos);
    EXPECT_EQ(service.get("/compare?a=" + ids[0] + "&b=nosuchresult").status, 404);
    // Every result page offers both.
    const std::string resultPage = service.get("/benchmarks/" + ids[5]).body;
    EXPECT_NE(resultPage.find("<form class=\"compare-form\" action=\"/compare\""), std::string::npos);
    EXPECT_NE(resultPage.find("/compare?a=" + ids[5] + "&amp;b=median"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Databases, BrowseService, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

}  // namespace
