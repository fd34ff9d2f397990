// The bounds every request is held to, on the real service over plain HTTP and over its
// built-in HTTPS: a body no route reads is refused before it is read, a head sent a byte
// at a time is cut off at its deadline, a head too large is refused, and ordinary
// requests still work.

#include <gtest/gtest.h>

#include <signal.h>

#include "tests/server/service_testkit.h"

namespace {

class RequestBounds : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);  // writes to a connection the service closed
        // A short head deadline keeps the drip tests short.
        service_ = std::make_unique<testkit::ServiceProcess>(
            dir_, testkit::ServiceProcess::Config{"sqlite:" + dir_.file("r.db"), GetParam(), 0,
                                                  {"--request-timeout", "3"}});
        std::string why;
        ASSERT_TRUE(service_->start(&why)) << why;
    }
    bool tls() const { return GetParam(); }

    testkit::TempDir dir_;
    std::unique_ptr<testkit::ServiceProcess> service_;
};

const std::string kHost = "Host: 127.0.0.1\r\n";

TEST_P(RequestBounds, BodyNoRouteReadsIsRefusedBeforeItIsSent) {
    constexpr std::size_t kTotal = 64 * 1024 * 1024;
    const std::string piece(64 * 1024, '{');
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    const std::string chunk = size + piece + "\r\n";
    struct Case {
        const char* name;
        std::string head;
        bool chunked;
    };
    const std::vector<Case> cases = {
        {"chunked to /healthz", "POST /healthz HTTP/1.1\r\n" + kHost + "Transfer-Encoding: chunked\r\n\r\n", true},
        {"chunked with a page", "GET /benchmarks HTTP/1.1\r\n" + kHost + "Transfer-Encoding: chunked\r\n\r\n", true},
        {"chunked past the submission's limit",
         "POST /api/benchmarks HTTP/1.1\r\n" + kHost +
             "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n",
         true},
        {"length past the submission's limit",
         "POST /api/benchmarks HTTP/1.1\r\n" + kHost + "Content-Type: application/json\r\nContent-Length: " +
             std::to_string(kTotal) + "\r\n\r\n",
         false},
        {"length to /healthz", "PUT /healthz HTTP/1.1\r\n" + kHost + "Content-Length: " + std::to_string(kTotal) +
                                   "\r\n\r\n",
         false},
    };
    for (const Case& c : cases) {
        testkit::RawConnection conn(service_->port(), tls());
        ASSERT_TRUE(conn.ok()) << c.name;
        ASSERT_TRUE(conn.send(c.head)) << c.name;
        std::size_t sent = 0;
        while (sent < kTotal && !conn.readable(0)) {
            if (!conn.send(c.chunked ? chunk : piece)) break;
            sent += piece.size();
        }
        std::string reply;
        EXPECT_TRUE(conn.readToEnd(reply)) << c.name << ": the connection stays open";
        EXPECT_EQ(reply.rfind("HTTP/1.1 413 ", 0), 0u) << c.name << ": " << reply.substr(0, 200);
        EXPECT_NE(reply.find("Connection: close\r\n"), std::string::npos) << c.name;
        EXPECT_LT(sent, kTotal) << c.name << ": the whole body was taken";
    }
    const testkit::Reply health = service_->get("/healthz");
    EXPECT_EQ(health.status, 200) << service_->log();
}

TEST_P(RequestBounds, HeadSentAByteAtATimeIsCutOff) {
    const std::string head = "GET /healthz HTTP/1.1\r\n" + kHost + "User-Agent: drip\r\n\r\n";
    struct Case {
        const char* name;
        std::size_t sentAtOnce;  // bytes of the head sent before the drip starts
        const char* reply;       // what the service answers, if anything
    };
    const std::vector<Case> cases = {
        {"in the request line", 0, ""},
        {"in the headers", head.find("User-Agent"), "HTTP/1.1 408 "},
    };
    for (const Case& c : cases) {
        testkit::RawConnection conn(service_->port(), tls());
        ASSERT_TRUE(conn.ok()) << c.name;
        ASSERT_TRUE(conn.send(head.substr(0, c.sentAtOnce))) << c.name;
        std::size_t sent = c.sentAtOnce;
        // A byte every 1.5 s: each read is well within the 2 s between reads.
        while (sent < head.size() && !conn.readable(1500)) {
            if (!conn.send(head.substr(sent, 1))) break;
            ++sent;
        }
        EXPECT_LT(sent, head.size()) << c.name << ": the whole head got through";
        std::string reply;
        EXPECT_TRUE(conn.readToEnd(reply)) << c.name;
        EXPECT_EQ(reply.rfind(c.reply, 0), 0u) << c.name << ": " << reply.substr(0, 200);
        if (!*c.reply) {
            EXPECT_EQ(reply, "") << c.name;
        }
    }
}

TEST_P(RequestBounds, HeadTooLargeIsRefused) {
    std::string manyHeaders;
    for (int i = 0; i < 150; ++i) manyHeaders += "X-Header-" + std::to_string(i) + ": 1\r\n";
    std::string longHeaders;
    for (int i = 0; i < 5; ++i) longHeaders += "X-Long-" + std::to_string(i) + ": " + std::string(5000, 'a') + "\r\n";
    for (const std::string& extra : {manyHeaders, longHeaders}) {
        testkit::RawConnection conn(service_->port(), tls());
        ASSERT_TRUE(conn.ok());
        conn.send("GET /healthz HTTP/1.1\r\n" + kHost + extra + "\r\n");
        std::string reply;
        EXPECT_TRUE(conn.readToEnd(reply));
        EXPECT_EQ(reply.rfind("HTTP/1.1 431 ", 0), 0u) << reply.substr(0, 200);
    }
    // Within the bounds, a head of many headers is fine.
    std::string fine;
    for (int i = 0; i < 90; ++i) fine += "X-Header-" + std::to_string(i) + ": 1\r\n";
    testkit::RawConnection conn(service_->port(), tls());
    ASSERT_TRUE(conn.ok());
    conn.send("GET /healthz HTTP/1.1\r\n" + kHost + fine + "\r\n");
    std::string reply;
    EXPECT_TRUE(conn.readReply(reply));
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 ", 0), 0u) << reply.substr(0, 200);
}

TEST_P(RequestBounds, SubmissionPageAndKeptAliveConnectionsStillWork) {
    const testkit::Reply stored = service_->post(testkit::signedDocument(testkit::sampleInventory(7)));
    ASSERT_EQ(stored.status, 201) << stored.body;
    // A submission sent in chunks within the limit is taken too.
    auto client = service_->client();
    const std::string chunkedDocument = testkit::signedDocument(testkit::sampleInventory(8));
    bool given = false;
    auto chunked = client->Post(
        "/api/benchmarks",
        [&](std::size_t, httplib::DataSink& sink) {
            if (!given) sink.write(chunkedDocument.data(), chunkedDocument.size());
            given = true;
            sink.done();
            return true;
        },
        "application/json; charset=utf-8");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 201) << chunked->body;

    // Three requests, one after another, on one connection.
    testkit::RawConnection conn(service_->port(), tls());
    ASSERT_TRUE(conn.ok());
    for (const std::string& path :
         std::vector<std::string>{"/benchmarks/" + stored.body, "/healthz", "/api/benchmarks/" + stored.body}) {
        ASSERT_TRUE(conn.send("GET " + path + " HTTP/1.1\r\n" + kHost + "\r\n"));
        std::string reply;
        ASSERT_TRUE(conn.readReply(reply)) << path;
        EXPECT_EQ(reply.rfind("HTTP/1.1 200 ", 0), 0u) << path << ": " << reply.substr(0, 200);
        EXPECT_EQ(reply.find("Connection: close"), std::string::npos) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Service, RequestBounds, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "BuiltInHttps" : "PlainHttp";
                         });

}  // namespace
