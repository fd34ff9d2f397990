// The WinHTTP client against the local HTTPS test server that run-wine-tests starts
// (tests/windows/https_test_server.py), with a certificate for "localhost" from a test
// authority that the test prefix trusts.
#include "report/https_client.h"

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

TEST_F(HttpsClientTest, ReadsALargeReplyThatArrivesInManyPieces) {
    std::string body(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 random(7);
    for (char& c : body) c = static_cast<char>(random());
    const auto response = client.post("/echo", body, kHeader);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->statusCode, 201u);
    ASSERT_EQ(response->body.size(), body.size());
    EXPECT_TRUE(response->body == body);
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
