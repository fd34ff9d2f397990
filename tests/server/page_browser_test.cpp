// The result page as a real browser builds it: headless Chromium loads the page from the
// running service, and its DOM must hold both charts and the figures. A screenshot is
// left in the build tree for people to look at.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "server/submission.h"
#include "tests/server/service_testkit.h"

namespace {

using testkit::runProgram;
using testkit::ServiceProcess;

std::string findChromium() {
    for (const char* name : {"chromium", "chromium-browser"}) {
        std::string out;
        if (runProgram({"sh", "-c", std::string("command -v ") + name}, &out) == 0 && !out.empty()) {
            return out.substr(0, out.find('\n'));
        }
    }
    return {};
}

// The flags headless Chromium needs as root on a machine without network access.
std::vector<std::string> chromiumArgs(const std::string& chromium, const std::string& profile) {
    return {"timeout",
            "120",
            chromium,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--no-first-run",
            "--hide-scrollbars",
            "--user-data-dir=" + profile};
}

std::string grouped(std::uint64_t value) {
    std::string digits = std::to_string(value), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string between(const std::string& text, const std::string& from, const std::string& to) {
    const auto a = text.find(from);
    if (a == std::string::npos) return {};
    const auto b = text.find(to, a);
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

TEST(ResultPageInBrowser, ChartsAndFiguresAreInTheDom) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "Chromium is not installed (Debian package chromium); page not rendered";

    testkit::TempDir dir;
    ServiceProcess service(dir, {"sqlite:" + dir.file("results.db"), false, 0, {}});
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    std::string id;
    for (std::uint64_t v = 0; v < 9; ++v) {
        const testkit::Reply r = service.post(testkit::signedDocument(testkit::sampleInventory(v * 11)));
        ASSERT_EQ(r.status, 201) << r.body;
        if (v == 6) id = r.body;
    }
    const SystemInventory shown = testkit::sampleInventory(66);
    const std::string url = service.baseUrl() + "/benchmarks/" + id;

    auto args = chromiumArgs(chromium, dir.file("profile-dom"));
    args.insert(args.end(), {"--dump-dom", url});
    std::string dom;
    ASSERT_EQ(runProgram(args, &dom), 0) << dom;

    EXPECT_NE(dom.find("<h1 id=\"processor\">13th Gen Intel(R) Core(TM) i7-13700K</h1>"), std::string::npos);

    const std::string cpuChart = between(dom, "<svg id=\"cpu-chart\"", "</svg>");
    ASSERT_FALSE(cpuChart.empty()) << dom.substr(0, 2000);
    std::smatch m;
    for (const char* series : {"int", "float"}) {
        const std::regex line(std::string("<polyline class=\"s-") + series + "\" data-series=\"" + series +
                              "\" points=\"([^\"]*)\"");
        ASSERT_TRUE(std::regex_search(cpuChart, m, line)) << series;
        EXPECT_EQ(countOf(m[1].str(), ","), 11u) << "one point per thread count";
    }
    EXPECT_EQ(countOf(cpuChart, "<circle"), 22u);
    for (const char* threads : {">1<", ">16<", ">64<"}) EXPECT_NE(cpuChart.find(threads), std::string::npos);

    const std::string gpuChart = between(dom, "<svg id=\"gpu-chart\"", "</svg>");
    ASSERT_FALSE(gpuChart.empty());
    EXPECT_EQ(countOf(gpuChart, "<rect class=\"b-"), 12u) << "three bars for each of four scenes";
    for (const char* scene : {"Flux Core", "Electron", "City", "Clouds"}) {
        EXPECT_NE(gpuChart.find(std::string(">") + scene + "</text>"), std::string::npos) << scene;
    }
    EXPECT_NE(gpuChart.find(">" + grouped(shown.score.gpu[0].average) + "</text>"), std::string::npos);

    std::uint64_t bestInteger = 0, bestFloat = 0;
    for (const auto& r : shown.score.cpu_integer) bestInteger = std::max(bestInteger, r.score);
    for (const auto& r : shown.score.cpu_float) bestFloat = std::max(bestFloat, r.score);
    const std::pair<const char*, std::string> figures[] = {
        {"cpu_integer_best", grouped(bestInteger)},
        {"cpu_float_best", grouped(bestFloat)},
        {"cpu_integer_single", grouped(shown.score.cpu_integer[0].score)},
        {"cpu_float_single", grouped(shown.score.cpu_float[0].score)},
        {"scene1_average", grouped(shown.score.gpu[0].average) + "<small>FPS</small>"},
    };
    for (const auto& [figure, text] : figures) {
        EXPECT_NE(dom.find(std::string("data-figure=\"") + figure + "\">" + text + "</p>"), std::string::npos)
            << figure << " should show " << text;
    }
    // Seventh of nine on every processor figure: faster than six of the eight others.
    // (The DOM serialiser writes the no-break space as &nbsp;.)
    EXPECT_EQ(countOf(dom, "Faster than 75&nbsp;% of results") + countOf(dom, "Faster than 75\xC2\xA0% of results"), 4u)
        << "integer and floating point, one thread and all threads";
    EXPECT_EQ(countOf(dom, "class=\"rank\""), 8u) << "a standing for each ranked figure";

    // The screenshot, for a person to judge.
    const std::string shots = TALLYFORGE_SCREENSHOT_DIR;
    std::filesystem::create_directories(shots);
    const std::string png = shots + "/result-page.png";
    std::filesystem::remove(png);
    args = chromiumArgs(chromium, dir.file("profile-shot"));
    args.insert(args.end(), {"--window-size=1280,1600", "--screenshot=" + png, url});
    std::string out;
    ASSERT_EQ(runProgram(args, &out), 0) << out;
    ASSERT_TRUE(std::filesystem::exists(png)) << out;
    EXPECT_GT(std::filesystem::file_size(png), 50000u) << "a rendered page, not a blank one";
}

}  // namespace

namespace {

// A flagged result and the methodology page as Chromium builds them, with screenshots.
TEST(ChecksInBrowser, FlaggedResultAndMethodologyPage) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "Chromium is not installed (Debian package chromium); page not rendered";

    testkit::TempDir dir;
    ServiceProcess service(dir, {"sqlite:" + dir.file("results.db"), false, 0, {}});
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    for (std::uint64_t v = 0; v < 4; ++v) {
        ASSERT_EQ(service.post(testkit::signedDocument(testkit::sampleInventory(v))).status, 201);
    }
    // What this machine stores under Xvfb: llvmpipe, and a curve that climbs past 2 threads.
    SystemInventory inv = testkit::sampleInventory(9);
    inv.processor = {"GenuineIntel", "Intel(R) Xeon(R) Processor @ 2.10GHz", "", 2100, 1, 2, 4096, 16384};
    inv.gl_gpu = {"Mesa", "llvmpipe (LLVM 15.0.6, 256 bits)"};
    const std::uint64_t integer[] = {1880, 2320, 3283, 3900, 4539, 4700, 4800, 4900, 4950, 5000, 5037};
    const std::uint64_t floating[] = {3015, 5048, 5626, 6000, 6725, 7000, 7200, 7400, 7600, 7700, 7806};
    for (std::size_t i = 0; i < kThreadCounts.size(); ++i) {
        inv.score.cpu_integer[i] = {kThreadCounts[i], integer[i]};
        inv.score.cpu_float[i] = {kThreadCounts[i], floating[i]};
    }
    inv.score.gpu = {{1, 31, 26, 22}, {2, 12, 10, 9}, {3, 4, 3, 3}, {4, 6, 5, 4}};
    const testkit::Reply created = service.post(testkit::signedDocument(inv));
    ASSERT_EQ(created.status, 201) << created.body;

    const std::string shots = TALLYFORGE_SCREENSHOT_DIR;
    std::filesystem::create_directories(shots);
    const struct {
        std::string path, png, size;
    } pages[] = {{"/benchmarks/" + created.body, "flagged-result-page.png", "1280,2750"},
                 {"/methodology", "methodology-page.png", "1280,4200"}};
    for (const auto& page : pages) {
        SCOPED_TRACE(page.path);
        auto args = chromiumArgs(chromium, dir.file("profile-dom" + page.png));
        args.insert(args.end(), {"--dump-dom", service.baseUrl() + page.path});
        std::string dom;
        ASSERT_EQ(runProgram(args, &dom), 0) << dom;
        EXPECT_EQ(dom.find("<script"), std::string::npos);
        if (page.png == "flagged-result-page.png") {
            const std::string section = between(dom, "<section class=\"card checks\" id=\"checks\">", "</section>");
            ASSERT_FALSE(section.empty()) << dom.substr(0, 3000);
            for (const char* name : {"software-renderer", "cpu-over-capacity", "gpu-too-slow"}) {
                EXPECT_NE(section.find(std::string("class=\"check\" data-check=\"") + name + "\""), std::string::npos)
                    << name;
            }
            EXPECT_EQ(countOf(section, "class=\"check\""), 3u);
            EXPECT_NE(section.find("does not count in the standings of other results"), std::string::npos);
        } else {
            for (const char* id : {"id=\"cpu\"", "id=\"gpu\"", "id=\"lows\"", "id=\"other-tools\"", "id=\"checks\""}) {
                EXPECT_NE(dom.find(id), std::string::npos) << id;
            }
            EXPECT_EQ(countOf(dom, "data-check-definition="), 5u);
        }
        const std::string png = shots + "/" + page.png;
        std::filesystem::remove(png);
        args = chromiumArgs(chromium, dir.file("profile-shot" + page.png));
        args.insert(args.end(), {"--window-size=" + page.size, "--screenshot=" + png, service.baseUrl() + page.path});
        std::string out;
        ASSERT_EQ(runProgram(args, &out), 0) << out;
        ASSERT_TRUE(std::filesystem::exists(png)) << out;
        EXPECT_GT(std::filesystem::file_size(png), 50000u) << "a rendered page, not a blank one";
    }
}

}  // namespace
