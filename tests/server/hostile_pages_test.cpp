// Every page kind rendered from documents whose every text is hostile markup, and the
// exports of those texts: nothing a submission sends may become markup or a formula.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/protocol.h"
#include "server/checks.h"
#include "server/listing.h"
#include "server/models.h"
#include "server/page_browse.h"
#include "server/page_model.h"
#include "server/pages.h"
#include "server/submission.h"
#include "tests/server/html_shape.h"
#include "tests/server/page_kinds.h"

namespace {

// Each tries another way out of a text: the end of an attribute, of the <title>, of the
// stylesheet, or a tag of its own.
const std::vector<std::string> kPayloads = {
    R"x(X"><meta http-equiv="refresh" content="0;url=https://evil.example/">)x",
    R"x(<script>alert(1)</script>)x",
    R"x(" onmouseover="alert(1))x",
    R"x(' onfocus='alert(1))x",
    R"x(</title><img src=x onerror=alert(1)>)x",
    R"x(</style><svg onload=alert(1)>)x",
    R"x(--><!-- <a href="javascript:alert(1)">)x",
};

SystemInventory hostileInventory(const std::string& text) {
    SystemInventory inv;
    inv.windows_uuid = "4C4C4544-0042-3510-8052-B4C04F565032";
    inv.windows_version = text;
    inv.processor = {text, text, text, 3400, 8, 16, 1024, 8192};
    inv.computer_system = {1, 17179869184ull, text, text};
    inv.video_controllers = {{text, text + " other", text, text}};
    inv.gl_gpu = {text, text};
    inv.width = 1920;
    inv.height = 1080;
    for (std::uint64_t t : kThreadCounts) {
        inv.score.cpu_integer.push_back({t, 1000 + 10 * t});
        inv.score.cpu_float.push_back({t, 800 + 10 * t});
    }
    inv.score.gpu = {{1, 400, 350, 300}, {2, 600, 500, 400}, {3, 250, 200, 150}, {4, 180, 150, 120}};
    return inv;
}

std::vector<testkit::RenderedPage> everyPage(const std::string& text) {
    const std::vector<testkit::RenderedPage> pages = testkit::renderEveryPageKind(hostileInventory(text), text);
    // A renderer string that is all driver suffix leaves no graphics model to show, but
    // every processor name makes a model.
    EXPECT_TRUE(std::any_of(pages.begin(), pages.end(), [](const auto& p) { return p.kind == "processor model"; }))
        << text;
    return pages;
}

TEST(HostilePages, NoStoredTextBecomesMarkupOnAnyPage) {
    // The checker itself: it must see the attack it is there to see.
    ASSERT_NE(testkit::unexpectedMarkup("<title>" + kPayloads[0] + "</title>"), "");
    ASSERT_NE(testkit::unexpectedMarkup("<p class=\"" + kPayloads[2] + "\">"), "");
    for (const std::string& payload : kPayloads) {
        for (const testkit::RenderedPage& page : everyPage(payload)) {
            EXPECT_EQ(testkit::unexpectedMarkup(page.html), "") << page.kind << " page with " << payload;
        }
    }
}

TEST(HostilePages, TitleAndDescriptionCarryTheTextEscaped) {
    const std::string payload = kPayloads[0];
    const std::string escaped = htmlEscape(payload);
    for (const testkit::RenderedPage& page : everyPage(payload)) {
        const std::size_t title = page.html.find("<title>");
        ASSERT_NE(title, std::string::npos) << page.kind;
        const std::string head = page.html.substr(0, page.html.find("</head>"));
        EXPECT_EQ(head.find("<meta http-equiv"), std::string::npos) << page.kind << ": " << head.substr(0, 400);
        if (page.kind == "result" || page.kind == "processor model") {
            EXPECT_NE(head.find("<title>" + (page.kind == "result" ? escaped : htmlEscape(processorModelName(payload)))),
                      std::string::npos)
                << page.kind << ": " << head.substr(title, 300);
        }
    }
}

TEST(HostilePages, CsvCellsNeverStartAFormula) {
    struct Case {
        std::string text;
        std::string field;  // as written in the CSV
    } cases[] = {
        {R"x(=HYPERLINK("https://evil.example","Intel"))x", R"x("'=HYPERLINK(""https://evil.example"",""Intel"")")x"},
        {"+1+1", "\"'+1+1\""},
        {"-2+3", "\"'-2+3\""},
        {"@SUM(A1)", "\"'@SUM(A1)\""},
        {"\tcmd", "\"'\tcmd\""},
        {"\r=1", "\"'\r=1\""},
        {"  =1+1", "\"'  =1+1\""},                      // leading spaces are skipped by spreadsheets
        {"\xEF\xBC\x9D" "1+1", "\"'\xEF\xBC\x9D" "1+1\""},  // full-width equals sign
        {"Intel Core i7-8700 @ 3.20GHz", "Intel Core i7-8700 @ 3.20GHz"},  // '@' inside is harmless
        {"Sample \"Quote\", Model 9", "\"Sample \"\"Quote\"\", Model 9\""},
        {"", ""},
    };
    for (const Case& c : cases) {
        Listing listing;
        listing.columns = {{"model", "Model", false}, {"results", "Results", true}};
        listing.rows = {{{c.text, std::nullopt, ""}, {"-5", -5, ""}}};
        const std::string csv = listingCsv(listing);
        EXPECT_EQ(csv, "model,results\r\n" + c.field + ",-5\r\n") << c.text;
    }
}

}  // namespace
