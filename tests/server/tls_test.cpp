// The built-in HTTPS service's TLS policy, seen by a real OpenSSL client: TLS 1.2 and 1.3
// only, AEAD suites only, the server's order, HSTS; and a client that stalls is let go.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/server/service_testkit.h"

namespace {

int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Handshake {
    bool ok = false;
    std::string cipher;
};

// One handshake offering exactly these versions and TLS 1.2 suites, in this order.
Handshake handshake(int port, int minVersion, int maxVersion, const char* tls12Ciphers) {
    Handshake out;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(ctx, 0);  // let the client offer what old clients offered
    SSL_CTX_set_min_proto_version(ctx, minVersion);
    SSL_CTX_set_max_proto_version(ctx, maxVersion);
    SSL_CTX_set_cipher_list(ctx, tls12Ciphers);
    const int fd = connectTo(port);
    if (fd >= 0) {
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        out.ok = SSL_connect(ssl) == 1;
        if (out.ok) out.cipher = SSL_get_cipher_name(ssl);
        SSL_free(ssl);
        close(fd);
    }
    SSL_CTX_free(ctx);
    return out;
}

TEST(BuiltInTls, OnlyModernVersionsAndAeadSuitesInTheServersOrder) {
    testkit::TempDir dir;
    testkit::ServiceProcess service(dir, {"sqlite:" + dir.file("r.db"), true, 0, {}});
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;

    struct Case {
        const char* name;
        int minVersion, maxVersion;
        const char* ciphers;
        bool accepted;
        const char* negotiated;  // for TLS 1.2: the server's first choice among those offered
    };
    const Case cases[] = {
        {"TLS 1.0", TLS1_VERSION, TLS1_VERSION, "ALL:@SECLEVEL=0", false, ""},
        {"TLS 1.1", TLS1_1_VERSION, TLS1_1_VERSION, "ALL:@SECLEVEL=0", false, ""},
        {"TLS 1.2 CBC only", TLS1_2_VERSION, TLS1_2_VERSION,
         "ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA384:ECDHE-ECDSA-AES128-SHA256", false, ""},
        {"TLS 1.2 without forward secrecy", TLS1_2_VERSION, TLS1_2_VERSION, "AES128-GCM-SHA256:AES256-GCM-SHA384",
         false, ""},
        {"TLS 1.2, client prefers ChaCha20", TLS1_2_VERSION, TLS1_2_VERSION,
         "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-GCM-SHA256", true,
         "ECDHE-ECDSA-AES128-GCM-SHA256"},
        {"TLS 1.2, CBC offered first", TLS1_2_VERSION, TLS1_2_VERSION,
         "ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES256-GCM-SHA384", true, "ECDHE-ECDSA-AES256-GCM-SHA384"},
        {"TLS 1.3", TLS1_3_VERSION, TLS1_3_VERSION, "ALL", true, nullptr},
    };
    for (const Case& c : cases) {
        const Handshake h = handshake(service.port(), c.minVersion, c.maxVersion, c.ciphers);
        EXPECT_EQ(h.ok, c.accepted) << c.name << " " << h.cipher;
        if (c.accepted && c.negotiated) {
            EXPECT_EQ(h.cipher, c.negotiated) << c.name;
        }
    }

    auto client = service.client();
    const auto res = client->Get("/healthz");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->get_header_value("Strict-Transport-Security"), "max-age=63072000");
}

// A connection that sends half a request and then nothing must not keep its worker: the
// service closes it well within the 5 s this test waits.
TEST(BuiltInTls, StalledClientIsLetGo) {
    testkit::TempDir dir;
    testkit::ServiceProcess service(dir, {"sqlite:" + dir.file("r.db"), false, 0, {}});
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    const int fd = connectTo(service.port());
    ASSERT_GE(fd, 0);
    const std::string half = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    ASSERT_EQ(send(fd, half.data(), half.size(), 0), ssize_t(half.size()));
    timeval wait{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[256];
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    close(fd);
    EXPECT_GE(got, 0) << "still open after 5 s";
}

}  // namespace
