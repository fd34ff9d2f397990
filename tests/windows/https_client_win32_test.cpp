// The WinHTTP client against the local HTTPS test server that run-wine-tests starts
// (tests/windows/https_test_server.py), with a certificate for "localhost" from a test
// authority that the test prefix trusts.
#include "report/https_client.h"

#include "report/submission.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

const char* kHeader = "Content-Type: application/json; charset=utf-8";

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A localhost port that nothing listens on: bound once, then released.
std::uint16_t closedPort() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    std::uint16_t port = 0;
    if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return port;
}

class HttpsClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("TALLYFORGE_TEST_HTTPS_PORT");
        if (!port || !*port) GTEST_SKIP() << "no test server: run through tests/windows/run-wine-tests";
        client.userAgent = "Tallyforge_Benchmark/1.0";
        client.host = "localhost";
        client.port = static_cast<std::uint16_t>(std::atoi(port));
    }
    HttpsClient client;
};

}  // namespace

TEST_F(HttpsClientTest, PostsBodyAndReadsReplyByteForByte) {
    const std::string body("{\"a\":1}\0\xff\x80 end\n", 15);
    const auto response = client.post("/echo", body, kHeader);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->statusCode, 201u);
    EXPECT_EQ(response->body, body);
}

TEST_F(HttpsClientTest, ReadsAReplyUpToTheLimitThatArrivesInManyPieces) {
    std::string body(kMaxReplyBytes, '\0');
    std::mt19937 random(7);
    for (char& c : body) c = static_cast<char>(random());
    const auto response = client.post("/echo", body, kHeader);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->statusCode, 201u);
    EXPECT_FALSE(response->tooLarge);
    ASSERT_EQ(response->body.size(), body.size());
    EXPECT_TRUE(response->body == body);
}

TEST_F(HttpsClientTest, StopsReadingPastTheLimit) {
    for (const std::size_t size : {kMaxReplyBytes + 1, std::size_t{3 * 1024 * 1024 + 17}}) {
        std::string body(size, '\0');
        std::mt19937 random(11);
        for (char& c : body) c = static_cast<char>(random());
        const auto response = client.post("/status/400", body, kHeader);
        ASSERT_TRUE(response.has_value()) << size;
        EXPECT_EQ(response->statusCode, 400u) << size;
        EXPECT_TRUE(response->tooLarge) << size;
        ASSERT_EQ(response->body.size(), kMaxReplyBytes) << size;
        EXPECT_TRUE(response->body == body.substr(0, kMaxReplyBytes)) << size;
        const SubmissionOutcome outcome = interpretResponse(response, client.host, client.port);
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.text, kSubmitFailedText);
    }
}

TEST_F(HttpsClientTest, ARedirectIsJustItsStatus) {
    const char* second = std::getenv("TALLYFORGE_TEST_HTTPS_SECOND_PORT");
    ASSERT_TRUE(second && *second);
    HttpsClient secondClient = client;
    secondClient.port = static_cast<std::uint16_t>(std::atoi(second));
    const auto before = secondClient.post("/seen", "", kHeader);
    ASSERT_TRUE(before.has_value());

    const auto response = client.post("/redirect/" + std::string(second), "{\"machine\":1}", kHeader);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->statusCode, 307u);
    EXPECT_EQ(response->body, "Moved.");
    const auto after = secondClient.post("/seen", "", kHeader);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->body, before->body) << "the redirect was followed";

    // The second server does count what reaches it, so its silence above means something.
    ASSERT_TRUE(secondClient.post("/echo", "x", kHeader).has_value());
    const auto counted = secondClient.post("/seen", "", kHeader);
    ASSERT_TRUE(counted.has_value());
    EXPECT_EQ(std::stoi(counted->body), std::stoi(before->body) + 1);
}

TEST_F(HttpsClientTest, OnlyA201WithAnIdentifierOpensThePage) {
    struct Case {
        std::string body;
        bool success;
    };
    const Case cases[] = {
        {"abc123XYZ789", true},   {"abc123XYZ789\n", false}, {"abc123", false},
        {"abc123XYZ7890", false}, {"abc123XYZ78/", false},   {"", false},
    };
    for (const Case& c : cases) {
        const auto response = client.post("/status/201", c.body, kHeader);
        ASSERT_TRUE(response.has_value()) << c.body;
        EXPECT_EQ(response->statusCode, 201u);
        const SubmissionOutcome outcome = interpretResponse(response, client.host, client.port);
        EXPECT_EQ(outcome.success, c.success) << c.body;
        EXPECT_EQ(outcome.text, c.success ? "https://localhost:" + std::to_string(client.port) + "/benchmarks/" + c.body
                                          : std::string(kNotAnIdentifierText))
            << c.body;
    }
}

TEST_F(HttpsClientTest, SendsUserAgentContentTypeAndLength) {
    const auto response = client.post("/headers", "{}", kHeader);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->body, "Tallyforge_Benchmark/1.0|application/json; charset=utf-8|2");
}

TEST_F(HttpsClientTest, ReturnsEveryStatusWithItsBody) {
    struct Case {
        const char* path;
        std::string body;
        std::uint32_t status;
    };
    const Case cases[] = {
        {"/status/201", "abc123\n", 201},   // the body is not trimmed
        {"/status/200", "stored", 200},     // another success code is still just a status
        {"/status/500", "", 500},
        {"/status/400", "The document is not valid.", 400},
        {"/nowhere", "", 404},
    };
    for (const Case& c : cases) {
        const auto response = client.post(c.path, c.body, kHeader);
        ASSERT_TRUE(response.has_value()) << c.path;
        EXPECT_EQ(response->statusCode, c.status) << c.path;
        EXPECT_EQ(response->body, c.path == std::string("/nowhere") ? "not found" : c.body) << c.path;
    }
}

TEST_F(HttpsClientTest, NoResponseWhenNothingListens) {
    client.port = closedPort();
    ASSERT_NE(client.port, 0);
    EXPECT_FALSE(client.post("/echo", "x", kHeader).has_value());
}

TEST_F(HttpsClientTest, NoResponseWhenTheNameDoesNotMatchTheCertificate) {
    // The certificate names only "localhost".
    client.host = "127.0.0.1";
    EXPECT_FALSE(client.post("/echo", "x", kHeader).has_value());
}

TEST_F(HttpsClientTest, PrivateAuthorityIsTrustedInsteadOfTheSystemRoots) {
    const char* ca = std::getenv("TALLYFORGE_TEST_CA_FILE");
    const char* other = std::getenv("TALLYFORGE_TEST_OTHER_CA_FILE");
    ASSERT_TRUE(ca && other);
    client.caPem = readFile(ca);
    ASSERT_NE(client.caPem.find("BEGIN CERTIFICATE"), std::string::npos);
    auto response = client.post("/echo", "private", kHeader);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->statusCode, 201u);
    EXPECT_EQ(response->body, "private");

    // The server's authority is trusted by the prefix, but not named here: refused.
    client.caPem = readFile(other);
    ASSERT_NE(client.caPem.find("BEGIN CERTIFICATE"), std::string::npos);
    EXPECT_FALSE(client.post("/echo", "private", kHeader).has_value());

    // With the right authority, a wrong name is still refused.
    client.caPem = readFile(ca);
    client.host = "127.0.0.1";
    EXPECT_FALSE(client.post("/echo", "private", kHeader).has_value());
}

TEST_F(HttpsClientTest, AuthorityUnknownToTheSystemIsRefusedUnlessNamed) {
    const char* port = std::getenv("TALLYFORGE_TEST_HTTPS_UNTRUSTED_PORT");
    const char* other = std::getenv("TALLYFORGE_TEST_OTHER_CA_FILE");
    ASSERT_TRUE(port && other);
    client.port = static_cast<std::uint16_t>(std::atoi(port));
    EXPECT_FALSE(client.post("/echo", "x", kHeader).has_value());

    client.caPem = readFile(other);
    const auto response = client.post("/echo", "x", kHeader);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->body, "x");
}
