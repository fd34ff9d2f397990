#include "report/submission.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/protocol.h"
#include "report/result_document.h"
#include "tests/report/sample_inventory.h"

TEST(ResultPageAddress, CarriesThePortOnlyWhenNotTheDefault) {
    EXPECT_EQ(resultPageAddress("tallyforge.net", 443, "abc123"), "https://tallyforge.net/benchmarks/abc123");
    EXPECT_EQ(resultPageAddress("localhost", 8443, "x"), "https://localhost:8443/benchmarks/x");
    EXPECT_EQ(resultPageAddress("h", 443, ""), "https://h/benchmarks/");
}

TEST(InterpretResponse, FollowsTheDecisionOrder) {
    const std::string generic = kSubmitFailedText;
    const std::string notAnId = kNotAnIdentifierText;
    const std::string id = "aZ09bY18cX27";
    HttpResponse tooLarge{201, id, true};
    HttpResponse tooLargeRefusal{400, "Too large.", true};
    struct Case {
        const char* what;
        std::optional<HttpResponse> response;
        bool success;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"201 with an identifier opens the page", HttpResponse{201, id}, true, "https://h:8443/benchmarks/" + id},
        {"every character of the alphabet", HttpResponse{201, "0123456789AZ"}, true,
         "https://h:8443/benchmarks/0123456789AZ"},
        {"201 with no body", HttpResponse{201, ""}, false, notAnId},
        {"one character short", HttpResponse{201, id.substr(1)}, false, notAnId},
        {"one character more", HttpResponse{201, id + "a"}, false, notAnId},
        {"a trailing line break", HttpResponse{201, id + "\n"}, false, notAnId},
        {"a trailing CR LF", HttpResponse{201, id + "\r\n"}, false, notAnId},
        {"a leading space", HttpResponse{201, " " + id.substr(1)}, false, notAnId},
        {"a path separator", HttpResponse{201, "aZ09bY/8cX27"}, false, notAnId},
        {"a query", HttpResponse{201, "aZ09bY?8cX27"}, false, notAnId},
        {"a fragment", HttpResponse{201, "aZ09bY#8cX27"}, false, notAnId},
        {"a dash", HttpResponse{201, "aZ09bY-8cX27"}, false, notAnId},
        {"a zero byte", HttpResponse{201, std::string("aZ09bY\0" "8cX27", 12)}, false, notAnId},
        {"a byte above ASCII", HttpResponse{201, "aZ09bY\xc3\xa9" "cX27"}, false, notAnId},
        {"another address", HttpResponse{201, "@evil.example/x"}, false, notAnId},
        {"a reply past the limit", tooLarge, false, generic},
        {"a refusal past the limit", tooLargeRefusal, false, generic},
        {"200 is a failure", HttpResponse{200, "stored"}, false, "stored"},
        {"a redirect is a failure", HttpResponse{307, ""}, false, generic},
        {"a redirect's body is shown", HttpResponse{308, "Moved."}, false, "Moved."},
        {"body shown unchanged", HttpResponse{413, " Too large.\n"}, false, " Too large.\n"},
        {"500 without body", HttpResponse{500, ""}, false, generic},
        {"error text up to a zero byte", HttpResponse{400, std::string("Bad\0x", 5)}, false, "Bad"},
        {"nothing before a zero byte", HttpResponse{400, std::string("\0x", 2)}, false, generic},
        {"no response", std::nullopt, false, generic},
    };
    for (const Case& c : cases) {
        const SubmissionOutcome outcome = interpretResponse(c.response, "h", 8443);
        EXPECT_EQ(outcome.success, c.success) << c.what;
        EXPECT_EQ(outcome.text, c.text) << c.what;
    }
}

TEST(ResultIdentifier, IsTheServicesLengthAndAlphabet) {
    EXPECT_EQ(kIdentifierLength, 12u);
    EXPECT_EQ(kIdentifierAlphabet.size(), 62u);
    for (int i = 1; i < 256; ++i) {
        const char c = static_cast<char>(i);
        const bool inAlphabet = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        EXPECT_EQ(isResultIdentifier(std::string(kIdentifierLength, c)), inAlphabet) << i;
    }
}

TEST(ResultServiceClient, UsesTheBuildSettings) {
    const HttpsClient client = resultServiceClient();
    EXPECT_EQ(client.userAgent, "Tallyforge_Benchmark/1.0");
    EXPECT_EQ(client.host, CONFIGURED_RESULT_HOST);
    EXPECT_EQ(client.port, CONFIGURED_RESULT_PORT);
    EXPECT_EQ(client.caPem.empty(), CONFIGURED_WITH_CA == 0);
    if (!client.caPem.empty()) {
        EXPECT_NE(client.caPem.find("-----BEGIN CERTIFICATE-----"), std::string::npos);
    }
    EXPECT_EQ(client.connectTimeout, std::chrono::seconds(60));
    EXPECT_EQ(client.stallTimeout, std::chrono::seconds(30));
}

TEST(ClientResultDocument, IsSignedWithTheEmbeddedSalt) {
    const SystemInventory inv = sampleInventory();
    const nlohmann::json doc = buildResultDocument(inv);
    EXPECT_EQ(doc.at("uuid").get<std::string>(), computeResultDigest(inv));
    const auto parsed = parseResultDocument(nlohmann::json::parse(doc.dump()));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(computeResultDigest(parsed->inventory), parsed->uuid);
}
