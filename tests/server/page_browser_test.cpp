// The result page as a real browser builds it: headless Chromium loads the page from the
// running service, and its DOM must hold both charts, their tables and the figures; an
// accessibility audit (axe-core) runs on it in the dark and the light colour scheme.
// Screenshots of both schemes are left in the build tree for people to look at.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "server/submission.h"
#include "tests/server/service_testkit.h"

namespace {

using testkit::chromiumArgs;
using testkit::findChromium;
using testkit::runProgram;
using testkit::screenshot;
using testkit::ServiceProcess;

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

// The colour scheme the page is shown in: Chromium's own setting, 0 dark and 1 light.
std::string schemeFlag(bool dark) {
    return std::string("--blink-settings=preferredColorScheme=") + (dark ? "0" : "1");
}

// A service holding nine results; the seventh is the one shown.
struct ServedPage {
    testkit::TempDir dir;
    ServiceProcess service{dir, {"sqlite:" + dir.file("results.db"), false, 0, {}}};
    std::string url;

    // Empty when all went well, else why not.
    std::string start() {
        std::string why;
        if (!service.start(&why)) return why;
        for (std::uint64_t v = 0; v < 9; ++v) {
            const testkit::Reply r = service.post(testkit::signedDocument(testkit::sampleInventory(v * 11)));
            if (r.status != 201) return "post: " + r.body;
            if (v == 6) url = service.baseUrl() + "/benchmarks/" + r.body;
        }
        return {};
    }
};

std::string unescapeHtml(std::string text) {
    const std::pair<const char*, const char*> entities[] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}};
    for (const auto& [entity, character] : entities) {
        for (auto at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
            text.replace(at, std::strlen(entity), character);
        }
    }
    return text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ResultPageInBrowser, ChartsAndFiguresAreInTheDom) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "Chromium is not installed (Debian package chromium); page not rendered";

    ServedPage page;
    const std::string why = page.start();
    ASSERT_EQ(why, "");
    const testkit::TempDir& dir = page.dir;
    const SystemInventory shown = testkit::sampleInventory(66);
    const std::string url = page.url;

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

    // Each chart is followed by its figures as a table, folded away until asked for.
    const std::string cpuTable = between(dom, "<table id=\"cpu-table\"", "</table>");
    ASSERT_FALSE(cpuTable.empty()) << "no processor table";
    EXPECT_EQ(countOf(cpuTable, "<tr>"), 12u) << "a header row and one row per thread count";
    EXPECT_NE(cpuTable.find("<th scope=\"row\">64</th><td class=\"num\">" +
                            grouped(shown.score.cpu_integer[10].score) + "</td><td class=\"num\">" +
                            grouped(shown.score.cpu_float[10].score) + "</td>"),
              std::string::npos)
        << cpuTable;
    const std::string gpuTable = between(dom, "<table id=\"gpu-table\"", "</table>");
    ASSERT_FALSE(gpuTable.empty()) << "no graphics table";
    EXPECT_EQ(countOf(gpuTable, "<tr>"), 5u) << "a header row and one row per scene";
    const GpuTestResult& city = shown.score.gpu[2];
    EXPECT_NE(gpuTable.find("<th scope=\"row\">City</th><td class=\"num\">" + grouped(city.average) +
                            "</td><td class=\"num\">" + grouped(city.ten_percent) + "</td><td class=\"num\">" +
                            grouped(city.one_percent) + "</td>"),
              std::string::npos)
        << gpuTable;
    EXPECT_EQ(countOf(dom, "<details"), 2u);
    EXPECT_EQ(countOf(dom, "<details open"), 0u) << "the tables start folded";
    // Both charts are named for assistive technology by their own title and description.
    for (const std::string& chart : {cpuChart, gpuChart}) {
        EXPECT_NE(chart.find("role=\"img\""), std::string::npos);
        EXPECT_NE(chart.find("aria-labelledby=\""), std::string::npos);
        EXPECT_NE(chart.find("<title id=\""), std::string::npos);
        EXPECT_NE(chart.find("<desc id=\""), std::string::npos);
    }

    // The screenshots, for a person to judge: the dark and the light scheme.
    const std::string shots = TALLYFORGE_SCREENSHOT_DIR;
    std::filesystem::create_directories(shots);
    for (const bool dark : {true, false}) {
        const std::string png = shots + (dark ? "/result-page.png" : "/result-page-light.png");
        ASSERT_EQ(screenshot(chromium, dir.file(dark ? "profile-shot-dark" : "profile-shot-light"), url, png,
                             "1280,1600", {schemeFlag(dark)}),
                  "");
        EXPECT_GT(std::filesystem::file_size(png), 50000u) << "a rendered page, not a blank one";
    }
}

// axe-core from the npm registry (scripts/setup installs it under build/test-tools), or the
// file that TALLYFORGE_AXE_JS names.
std::string axeScript() {
    if (const char* path = std::getenv("TALLYFORGE_AXE_JS")) return path;
    return TALLYFORGE_AXE_JS;
}

// The page's own policy forbids every script, so the audit runs on a copy of the served page
// with axe and a runner added, loaded from a file, and writes its findings into the DOM.
TEST(ResultPageInBrowser, AccessibilityAuditFindsNothingInDarkAndLight) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "Chromium is not installed (Debian package chromium); page not audited";
    const std::string axe = readFile(axeScript());
    ASSERT_FALSE(axe.empty()) << "axe-core not found at " << axeScript() << " (scripts/setup installs it)";

    ServedPage page;
    const std::string why = page.start();
    ASSERT_EQ(why, "");
    const testkit::Reply served = page.service.get(page.url.substr(page.service.baseUrl().size()));
    ASSERT_EQ(served.status, 200);

    // Violations fail the test; what axe could not decide ("incomplete") is printed for people.
    const std::string runner =
        "<script>" + axe +
        "</script><script>"
        "function axeList(list) { return list.map(function (v) {"
        "  return v.impact + ' ' + v.id + ': ' + v.help + ' (' + v.nodes.length + ' elements) @ ' +"
        "    v.nodes.slice(0, 4).map(function (n) { return n.target.join(' '); }).join(' | ');"
        "}).join('\\n') || 'none'; }"
        "function axeOut(id, text) { var out = document.createElement('pre'); out.id = id;"
        "  out.textContent = text; document.body.appendChild(out); }"
        // Once as the page opens, once with every table unfolded.
        "axe.run(document).then(function (folded) {"
        "  document.querySelectorAll('details').forEach(function (d) { d.open = true; });"
        "  return axe.run(document).then(function (open) {"
        "    axeOut('axe-review', axeList(folded.incomplete.concat(open.incomplete)));"
        "    axeOut('axe-findings', axeList(folded.violations.concat(open.violations)));"
        "  });"
        "}).catch(function (e) { axeOut('axe-findings', 'audit failed: ' + e); });</script>";
    std::string html = served.body;
    const auto end = html.rfind("</body>");
    ASSERT_NE(end, std::string::npos);
    html.insert(end, runner);
    const std::string copy = page.dir.file("audited-page.html");
    std::ofstream(copy, std::ios::binary) << html;

    for (const bool dark : {true, false}) {
        auto args = chromiumArgs(chromium, page.dir.file(dark ? "profile-axe-dark" : "profile-axe-light"));
        args.insert(args.end(), {schemeFlag(dark), "--window-size=1280,1600", "--virtual-time-budget=30000",
                                 "--dump-dom", "file://" + copy});
        std::string dom;
        ASSERT_EQ(runProgram(args, &dom), 0) << dom.substr(0, 2000);
        const std::string reviewTag = "<pre id=\"axe-review\">";
        const std::string review = between(dom, reviewTag, "</pre>");
        if (!review.empty())
            std::printf("axe, %s scheme, to review by hand: %s\n", dark ? "dark" : "light",
                        unescapeHtml(review.substr(reviewTag.size())).c_str());
        const std::string tag = "<pre id=\"axe-findings\">";
        const std::string report = between(dom, tag, "</pre>");
        ASSERT_FALSE(report.empty()) << "the audit did not report";
        EXPECT_EQ(unescapeHtml(report.substr(tag.size())), "none") << (dark ? "dark" : "light") << " scheme";
    }

    // Where keyboard focus is, for a person to judge: the first table's toggle, as after Tab.
    html = served.body;
    html.insert(html.rfind("</body>"),
                "<script>document.querySelector('summary').focus({preventScroll: true});</script>");
    const std::string focused = page.dir.file("focused-page.html");
    std::ofstream(focused, std::ios::binary) << html;
    const std::string png = std::string(TALLYFORGE_SCREENSHOT_DIR) + "/result-page-focus.png";
    std::filesystem::create_directories(TALLYFORGE_SCREENSHOT_DIR);
    auto args = chromiumArgs(chromium, page.dir.file("profile-focus"));
    args.insert(args.end(), {schemeFlag(true), "--window-size=1280,1000", "--screenshot=" + png, "file://" + focused});
    std::string out;
    EXPECT_EQ(runProgram(args, &out), 0) << out;
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
        ASSERT_EQ(screenshot(chromium, dir.file("profile-shot" + page.png), service.baseUrl() + page.path, png, page.size), "");
        EXPECT_GT(std::filesystem::file_size(png), 50000u) << "a rendered page, not a blank one";
    }
}

}  // namespace
