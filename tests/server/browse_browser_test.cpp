// The browsing pages as headless Chromium builds them from the running service: a result
// page with its model standing and its machine's earlier runs, a model page, a comparison
// and a search. Screenshots are left in the build tree for people to look at.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "server/submission.h"
#include "tests/server/service_testkit.h"

namespace {

using testkit::chromiumArgs;
using testkit::findChromium;
using testkit::runProgram;
using testkit::screenshot;
using testkit::ServiceProcess;

// A run of a machine whose processor reaches `factor` of the sample's scores.
SystemInventory machineRun(std::uint64_t machine, double factor, std::uint64_t variant) {
    SystemInventory inv = testkit::sampleInventory(variant);
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "00000000-0000-4000-8000-%012llX", static_cast<unsigned long long>(machine));
    inv.windows_uuid = uuid;
    for (auto* list : {&inv.score.cpu_integer, &inv.score.cpu_float}) {
        for (auto& r : *list) r.score = std::uint64_t(double(r.score) * factor);
    }
    for (auto& g : inv.score.gpu) {
        g.average = std::uint64_t(double(g.average) * factor);
        g.ten_percent = std::uint64_t(double(g.ten_percent) * factor);
        g.one_percent = std::uint64_t(double(g.one_percent) * factor);
    }
    return inv;
}

TEST(BrowseInBrowser, ResultModelCompareAndSearchPages) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "Chromium is not installed (Debian package chromium); page not rendered";

    testkit::TempDir dir;
    ServiceProcess service(dir, {"sqlite:" + dir.file("results.db"), false, 0, {}});
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    // Forty machines of one model spread around the sample's scores, a few of another.
    std::mt19937 random(7);
    std::normal_distribution<double> spread(1.0, 0.06);
    for (std::uint64_t m = 0; m < 40; ++m) {
        ASSERT_EQ(service.post(testkit::signedDocument(machineRun(m, spread(random), m))).status, 201);
    }
    for (std::uint64_t m = 0; m < 3; ++m) {
        SystemInventory inv = machineRun(100 + m, 1.4, 200 + m);
        inv.processor.name = "AMD Ryzen 9 7950X 16-Core Processor";
        inv.gl_gpu.renderer = "AMD Radeon RX 7900 XTX (radeonsi, navi31, LLVM 15.0.6, DRM 3.54)";
        ASSERT_EQ(service.post(testkit::signedDocument(inv)).status, 201);
    }
    // One machine's three runs, the latest below what its model usually reaches.
    std::string latest;
    for (std::uint64_t run = 0; run < 3; ++run) {
        const testkit::Reply r = service.post(testkit::signedDocument(machineRun(500, 0.97 - 0.06 * double(run), 300 + run)));
        ASSERT_EQ(r.status, 201);
        latest = r.body;
    }
    const std::string other = service.get("/processors/13th-gen-intel-core-i7-13700k?format=csv").body;
    // A result of another machine of the same model: the sixth newest.
    std::size_t line = 0;
    for (int i = 0; i < 6; ++i) line = other.find("\r\n", line) + 2;
    const std::string someId = other.substr(line, 12);

    const std::string shots = TALLYFORGE_SCREENSHOT_DIR;
    std::filesystem::create_directories(shots);
    const struct {
        std::string path, png, size, mustHave;
    } pages[] = {{"/benchmarks/" + latest, "result-with-standing.png", "1280,3900", "id=\"model-standing\""},
                 {"/processors/13th-gen-intel-core-i7-13700k", "model-page.png", "1280,2000", "id=\"histogram\""},
                 {"/compare?a=" + latest + "&b=" + someId, "compare-page.png", "1280,2300", "id=\"compare-machines\""},
                 {"/search?q=radeon", "search-page.png", "1280,1100", "id=\"found-models\""},
                 {"/processors", "processors-page.png", "1280,800", "id=\"models\""}};
    for (const auto& page : pages) {
        SCOPED_TRACE(page.path);
        auto args = chromiumArgs(chromium, dir.file("profile-dom" + page.png));
        args.insert(args.end(), {"--dump-dom", service.baseUrl() + page.path});
        std::string dom;
        ASSERT_EQ(runProgram(args, &dom), 0) << dom;
        EXPECT_EQ(dom.find("<script"), std::string::npos);
        EXPECT_NE(dom.find(page.mustHave), std::string::npos) << dom.substr(0, 2000);
        EXPECT_EQ(dom.find("00000000-0000-4000-8000-"), std::string::npos) << "no machine identifier";
        const std::string png = shots + "/" + page.png;
        ASSERT_EQ(screenshot(chromium, dir.file("profile-shot" + page.png), service.baseUrl() + page.path, png, page.size), "");
        EXPECT_GT(std::filesystem::file_size(png), 30000u) << "a rendered page, not a blank one";
    }
}

// Typed into and followed in the browser: the search box and "Compare with…" must work
// under the page's own Content Security Policy.
TEST(BrowseInBrowser, FormsWorkWhenTypedIntoAndSent) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "Chromium is not installed (Debian package chromium); forms not tried";
    const std::string tools = TALLYFORGE_TEST_TOOLS;
    ASSERT_TRUE(std::filesystem::exists(tools + "/node_modules/puppeteer-core"))
        << "puppeteer-core not found in " << tools << " (scripts/setup installs it)";

    testkit::TempDir dir;
    ServiceProcess service(dir, {"sqlite:" + dir.file("results.db"), false, 0, {}});
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    const testkit::Reply a = service.post(testkit::signedDocument(machineRun(1, 1.0, 1)));
    const testkit::Reply b = service.post(testkit::signedDocument(machineRun(2, 0.9, 2)));
    ASSERT_EQ(a.status, 201);
    ASSERT_EQ(b.status, 201);

    std::string out;
    const int status = runProgram({"timeout", "180", "node", TALLYFORGE_FORMS_SCRIPT, tools, chromium,
                                   dir.file("profile-forms"), service.baseUrl(), a.body, b.body},
                                  &out);
    EXPECT_EQ(status, 0) << out;
    for (const char* form : {"ok   search box: /search?q=13700K", "ok   search by result address",
                             "ok   compare with: /compare?a="}) {
        EXPECT_NE(out.find(form), std::string::npos) << out;
    }
    // The requests the browser made reached the service (its log leaves queries out).
    EXPECT_NE(service.log().find("GET /search 200"), std::string::npos) << service.log();
    EXPECT_NE(service.log().find("GET /compare 200"), std::string::npos) << service.log();
}

}  // namespace
