#include "report/submission.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/result_document.h"
#include "tests/report/sample_inventory.h"

TEST(ResultPageAddress, CarriesThePortOnlyWhenNotTheDefault) {
    EXPECT_EQ(resultPageAddress("tallyforge.net", 443, "abc123"), "https://tallyforge.net/benchmarks/abc123");
    EXPECT_EQ(resultPageAddress("localhost", 8443, "x"), "https://localhost:8443/benchmarks/x");
    EXPECT_EQ(resultPageAddress("h", 443, ""), "https://h/benchmarks/");
}

TEST(InterpretResponse, FollowsTheDecisionOrder) {
    const std::string generic = kSubmitFailedText;
    struct Case {
        const char* what;
        std::optional<HttpResponse> response;
        bool success;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"201 opens the page", HttpResponse{201, "abc123"}, true, "https://h:8443/benchmarks/abc123"},
        {"201 keeps a line break", HttpResponse{201, "abc123\r\n"}, true, "https://h:8443/benchmarks/abc123\r\n"},
        {"201 with no body", HttpResponse{201, ""}, true, "https://h:8443/benchmarks/"},
        {"201 up to a zero byte", HttpResponse{201, std::string("ab\0cd", 5)}, true, "https://h:8443/benchmarks/ab"},
        {"200 is a failure", HttpResponse{200, "stored"}, false, "stored"},
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
