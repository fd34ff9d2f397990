// The real service on loopback, with SQLite and with PostgreSQL: what is stored, what is
// refused and with which sentence, what the pages show.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "core/document.h"
#include "server/submission.h"
#include "tests/server/backend_fixture.h"
#include "tests/server/hostile_submissions.h"

namespace {

using nlohmann::json;
using testkit::salt;
using testkit::sampleInventory;
using testkit::ServiceProcess;

// What the public gets of a stored document: the same text less the machine identifier.
std::string withoutMachine(const std::string& document) {
    auto doc = nlohmann::ordered_json::parse(document);
    EXPECT_TRUE(doc.contains("windows_uuid"));
    doc.erase("windows_uuid");
    return doc.dump();
}

using ServiceTest = BackendTest;

TEST_P(ServiceTest, ValidDocumentIsStoredOnceAndComesBack) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    const std::string document = testkit::signedDocument(sampleInventory());

    const testkit::Reply created = service.post(document);
    ASSERT_EQ(created.status, 201) << created.body;
    EXPECT_EQ(created.contentType, "text/plain; charset=utf-8");
    const std::string id = created.body;
    ASSERT_EQ(id.size(), 12u) << "the body is the bare identifier, no line break";
    for (char c : id) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << id;

    const testkit::Reply replay = service.post(document);
    EXPECT_EQ(replay.status, 201);
    EXPECT_EQ(replay.body, id) << "the same document gets the same identifier";
    EXPECT_EQ(openStore()->count(), 1);

    const testkit::Reply stored = service.get("/api/benchmarks/" + id);
    EXPECT_EQ(stored.status, 200);
    EXPECT_EQ(stored.contentType, "application/json; charset=utf-8");
    EXPECT_EQ(stored.body, withoutMachine(document)) << "the document comes back as sent, less the machine identifier";
    EXPECT_EQ(openStore()->find(id)->document, document) << "stored exactly as sent";

    const testkit::Reply page = service.get("/benchmarks/" + id);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
    const std::string csp = httplib::detail::get_header_value(page.headers, "Content-Security-Policy", 0, "");
    EXPECT_NE(csp.find("script-src 'none'"), std::string::npos) << csp;
    EXPECT_NE(csp.find("default-src 'none'"), std::string::npos) << csp;
    EXPECT_NE(page.body.find("13th Gen Intel(R) Core(TM) i7-13700K"), std::string::npos);
    EXPECT_NE(page.body.find("id=\"cpu-chart\""), std::string::npos);
    EXPECT_NE(page.body.find("id=\"gpu-chart\""), std::string::npos);
    EXPECT_EQ(page.body.find("<script"), std::string::npos);
    EXPECT_EQ(page.body.find("http://"), std::string::npos) << "nothing is loaded from elsewhere";
    EXPECT_EQ(page.body.find("https://"), std::string::npos) << "nothing is loaded from elsewhere";

    const testkit::Reply list = service.get("/benchmarks");
    EXPECT_EQ(list.status, 200);
    EXPECT_NE(list.body.find("href=\"/benchmarks/" + id + "\""), std::string::npos);

    EXPECT_EQ(service.get("/healthz").status, 200);

    const testkit::Reply missingPage = service.get("/benchmarks/AAAAAAAAAAAA");
    EXPECT_EQ(missingPage.status, 404);
    EXPECT_NE(missingPage.body.find("We could not find that result"), std::string::npos);
    EXPECT_EQ(service.get("/benchmarks/not-an-id").status, 404);
    const testkit::Reply missingJson = service.get("/api/benchmarks/AAAAAAAAAAAA");
    EXPECT_EQ(missingJson.status, 404);
    EXPECT_EQ(missingJson.body, "No benchmark result has this identifier.");

    EXPECT_EQ(service.stop(SIGTERM), 0) << service.log();
    const std::string log = service.log();
    EXPECT_NE(log.find("POST /api/benchmarks 201 "), std::string::npos) << log;
    EXPECT_NE(log.find("GET /benchmarks/" + id + " 200 "), std::string::npos) << log;
}

TEST_P(ServiceTest, BadInputsAreRefusedWithTheirSentenceAndNothingIsStored) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;

    const std::vector<testkit::HostileSubmission> cases = testkit::hostileSubmissions();
    ASSERT_EQ(cases.size(), 103u) << "every member of the document, one level into each list, and the rest";
    for (const testkit::HostileSubmission& c : cases) {
        const testkit::Reply reply = service.post(c.body, c.contentType);
        EXPECT_EQ(reply.status, c.status) << c.name << ": " << reply.body;
        EXPECT_EQ(reply.body, c.sentence) << c.name;
    }
    // A body sent in chunks has no length up front; it is cut off at the limit all the same,
    // and its connection ends after the refusal.
    auto client = service.client();
    client->set_keep_alive(true);
    std::size_t sent = 0;
    auto chunked = client->Post(
        "/api/benchmarks",
        [&](std::size_t, httplib::DataSink& sink) {
            const std::string piece(16 * 1024, ' ');
            if (sent < 4 * 1024 * 1024 && sink.is_writable()) {
                sent += piece.size();
                return sink.write(piece.data(), piece.size());
            }
            sink.done();
            return true;
        },
        "application/json");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 413);
    EXPECT_EQ(chunked->body, refusal::kTooLarge);

    const auto after = client->Get("/healthz");
    ASSERT_TRUE(after) << "the client's next request is answered";
    EXPECT_EQ(after->status, 200);

    EXPECT_EQ(openStore()->count(), 0) << "no refused document may be stored";

    // Each refusal's line says why; the next request on the same connection says nothing more.
    const std::string log = service.log();
    EXPECT_NE(log.find(" (body over the size limit)\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" (digest mismatch)\n"), std::string::npos) << log;
    const std::size_t health = log.find("GET /healthz 200 ");
    ASSERT_NE(health, std::string::npos) << log;
    const std::string healthLine = log.substr(health, log.find('\n', health) - health);
    EXPECT_EQ(healthLine.find('('), std::string::npos) << healthLine;
}

TEST_P(ServiceTest, StoredTextComesBackEscaped) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    SystemInventory inv = sampleInventory(3);
    inv.processor.name = "<script>alert(\"x\")</script> & Co";
    inv.video_controllers[0].name = "<img src=x onerror=alert(1)>";
    inv.gl_gpu.renderer = "\"quoted' renderer";
    const std::string document = testkit::signedDocument(inv);
    const testkit::Reply created = service.post(document);
    ASSERT_EQ(created.status, 201) << created.body;

    const std::string page = service.get("/benchmarks/" + created.body).body;
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; Co"), std::string::npos);
    EXPECT_NE(page.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(page.find("&quot;quoted&#39; renderer"), std::string::npos);
    EXPECT_EQ(service.get("/api/benchmarks/" + created.body).body, withoutMachine(document));
    const std::string list = service.get("/benchmarks").body;
    EXPECT_EQ(list.find("<script"), std::string::npos);
    EXPECT_NE(list.find("&lt;script&gt;"), std::string::npos);
}

TEST_P(ServiceTest, StandingAmongStoredResults) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    // Five results whose first scene averages 412..416 (variant % 50 is added).
    std::vector<std::string> ids;
    for (std::uint64_t v = 0; v < 5; ++v) {
        const testkit::Reply r = service.post(testkit::signedDocument(sampleInventory(v)));
        ASSERT_EQ(r.status, 201) << r.body;
        ids.push_back(r.body);
    }
    const std::string fastest = service.get("/benchmarks/" + ids[4]).body;
    const std::string middle = service.get("/benchmarks/" + ids[2]).body;
    const std::string slowest = service.get("/benchmarks/" + ids[0]).body;
    const auto standingOf = [](const std::string& page, const std::string& figure) {
        const auto at = page.find("<div class=\"rank\" data-figure=\"" + figure + "\">");
        if (at == std::string::npos) return std::string("(none)");
        const auto p = page.find("<p>", at) + 3;
        return page.substr(p, page.find("</p>", p) - p);
    };
    EXPECT_EQ(standingOf(fastest, "scene1_average"), "Faster than all other results");
    EXPECT_EQ(standingOf(middle, "scene1_average"), "Faster than 50&#160;% of results");
    EXPECT_EQ(standingOf(slowest, "scene1_average"), "Not yet faster than other results");
    EXPECT_EQ(standingOf(middle, "cpu_integer_single"), "Faster than 50&#160;% of results");
    EXPECT_EQ(standingOf(middle, "scene2_average"), "Not yet faster than other results")
        << "equal figures are not counted as slower";

    // After a restart the standings come from the database.
    EXPECT_EQ(service.stop(SIGTERM), 0);
    ServiceProcess restarted(dir_, config());
    ASSERT_TRUE(restarted.start(&why)) << why;
    EXPECT_EQ(restarted.get("/benchmarks/" + ids[2]).body, middle);
}

TEST_P(ServiceTest, RateLimitPerAddressAndProxyHeader) {
    ServiceProcess::Config behindProxy = config(false, 3);
    behindProxy.extraArgs = {"--trusted-proxy", "127.0.0.1"};
    ServiceProcess service(dir_, behindProxy);
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    const httplib::Headers proxyA = {{"X-Forwarded-For", "203.0.113.5"}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(service.post(testkit::signedDocument(sampleInventory(100 + i)), "application/json", proxyA).status,
                  201);
    }
    const testkit::Reply limited =
        service.post(testkit::signedDocument(sampleInventory(110)), "application/json", proxyA);
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(limited.body, refusal::kRateLimited);
    const httplib::Headers proxyB = {{"X-Forwarded-For", "203.0.113.5, 198.51.100.20"}};
    EXPECT_EQ(service.post(testkit::signedDocument(sampleInventory(111)), "application/json", proxyB).status, 201)
        << "the proxy's own (last) entry names the client";
    EXPECT_EQ(openStore()->count(), 4);
    EXPECT_NE(service.log().find("POST /api/benchmarks 429 "), std::string::npos);
    EXPECT_NE(service.log().find(" (rate limit for 203.0.113.5)\n"), std::string::npos) << service.log();
    EXPECT_EQ(service.stop(SIGTERM), 0);

    // With no proxy named, the header is the client's own claim: a new one on every
    // request buys nothing.
    ServiceProcess direct(dir_, config(false, 3));
    ASSERT_TRUE(direct.start(&why)) << why;
    int created = 0;
    for (int i = 0; i < 5; ++i) {
        const httplib::Headers forged = {{"X-Forwarded-For", "198.51.100." + std::to_string(i)}};
        created += direct.post(testkit::signedDocument(sampleInventory(120 + i)), "application/json", forged).status == 201;
    }
    EXPECT_EQ(created, 3);
    EXPECT_NE(direct.log().find(" (rate limit for 127.0.0.1)\n"), std::string::npos) << direct.log();
}

TEST_P(ServiceTest, HttpsWithCertificate) {
    ServiceProcess service(dir_, config(true));
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    ASSERT_EQ(service.baseUrl().rfind("https://", 0), 0u) << service.baseUrl();
    const testkit::Reply created = service.post(testkit::signedDocument(sampleInventory(42)));
    ASSERT_EQ(created.status, 201) << created.body;
    EXPECT_EQ(service.get("/benchmarks/" + created.body).status, 200);

    // Keep-alive: many requests on one TLS connection.
    auto client = service.client();
    client->set_keep_alive(true);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(client->Get("/healthz")->status, 200);
}

// A request that is half sent when SIGTERM arrives is still answered and stored, and
// the service then ends with status 0.
TEST_P(ServiceTest, SigtermFinishesTheRequestInFlight) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    const std::string document = testkit::signedDocument(sampleInventory(77));
    const std::string head = "POST /api/benchmarks HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                             "Connection: close\r\nContent-Length: " + std::to_string(document.size()) + "\r\n\r\n";

    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(service.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string first = head + document.substr(0, document.size() / 2);
    ASSERT_EQ(send(fd, first.data(), first.size(), 0), ssize_t(first.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the request is being read

    std::thread stopper([&] { EXPECT_EQ(service.stop(SIGTERM), 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string rest = document.substr(document.size() / 2);
    ASSERT_EQ(send(fd, rest.data(), rest.size(), 0), ssize_t(rest.size()));
    std::string reply;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, std::size_t(n));
    close(fd);
    stopper.join();
    EXPECT_EQ(reply.rfind("HTTP/1.1 201", 0), 0u) << reply;
    EXPECT_EQ(openStore()->count(), 1);
    EXPECT_NE(service.log().find("SIGTERM received"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Databases, ServiceTest, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

}  // namespace
