// Whole submissions against real HTTPS servers on loopback. Each submission runs in the
// driver program, since a failed one ends its process; stand-in xdg-open and zenity
// programs first on its PATH record what the user would have seen.
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/document.h"
#include "report/result_document.h"
#include "report/submission.h"
#include "tests/report/sample_inventory.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void sh(const std::string& command) {
    ASSERT_EQ(std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()), 0) << command;
}

// A loopback listening socket with a port chosen by the system.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 8) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
            ADD_FAILURE() << "cannot listen on loopback";
        }
        port_ = ntohs(addr.sin_port);
    }
    ~Listener() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }
    std::uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A plain HTTP forward proxy stand-in: records the head of the first request and refuses it.
class RefusingProxy {
public:
    RefusingProxy() : thread_([this] { serve(); }) {}
    ~RefusingProxy() {
        stop_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return listener_.port(); }
    std::string head() {
        std::lock_guard lock(mutex_);
        return head_;
    }

private:
    void serve() {
        pollfd p{listener_.fd(), POLLIN, 0};
        while (!stop_ && poll(&p, 1, 100) == 0) {}
        if (stop_) return;
        const int client = accept(listener_.fd(), nullptr, nullptr);
        if (client < 0) return;
        std::string head;
        char buffer[1024];
        pollfd c{client, POLLIN, 0};
        while (head.find("\r\n\r\n") == std::string::npos && poll(&c, 1, 5000) > 0) {
            const ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        {
            std::lock_guard lock(mutex_);
            head_ = head;
        }
        const std::string reply = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        (void)send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        ::close(client);
    }

    Listener listener_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string head_;
    std::thread thread_;
};

struct SeenRequest {
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;
};

// cpp-httplib server (TLS or plain) in a thread of the test, recording every request.
class TestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // TLS with the given certificate and key.
    TestServer(const fs::path& cert, const fs::path& key, Handler handler)
        : TestServer(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str()), std::move(handler)) {}
    // Plain HTTP.
    explicit TestServer(Handler handler)
        : TestServer(std::make_unique<httplib::Server>(), std::move(handler)) {}

    ~TestServer() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        released_cv_.notify_all();
        server_->stop();
        if (thread_.joinable()) thread_.join();
    }

    std::uint16_t port() const { return port_; }

    std::vector<SeenRequest> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // For handlers that must hold the reply back until the test ends.
    void waitUntilReleased() {
        std::unique_lock lock(mutex_);
        released_cv_.wait_for(lock, 60s, [this] { return released_; });
    }

private:
    TestServer(std::unique_ptr<httplib::Server> server, Handler handler)
        : server_(std::move(server)), handler_(std::move(handler)) {
        EXPECT_TRUE(server_->is_valid());
        const auto record = [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex_);
                requests_.push_back({req.method, req.path, req.headers, req.body});
            }
            handler_(req, res);
        };
        server_->Post(".*", record);
        server_->Get(".*", record);
        port_ = static_cast<std::uint16_t>(server_->bind_to_any_port("127.0.0.1"));
        EXPECT_GT(port_, 0);
        thread_ = std::thread([this] { server_->listen_after_bind(); });
    }

    std::unique_ptr<httplib::Server> server_;
    Handler handler_;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable released_cv_;
    bool released_ = false;
    std::vector<SeenRequest> requests_;
};

TestServer::Handler reply(int status, std::string body) {
    return [status, body](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, "text/plain");
    };
}

struct Outcome {
    int exitCode = -1;                  // -1: did not exit normally
    bool killed = false;                // still running after the watchdog's limit
    std::optional<std::string> opened;  // the address handed to xdg-open
    std::optional<std::string> dialog;  // the text of the zenity error dialog
    std::string log;                    // the child's stdout and stderr
};

}  // namespace

class HttpsSubmission : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/tallyforge-submission-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        const std::string d = dir_.string();
        const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        sh("cd " + d + " && openssl req -x509 " + ec +
           " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Tallyforge Test CA'");
        for (const std::string name : {"localhost", "other.invalid"}) {
            sh("cd " + d + " && openssl req -new " + ec + " -keyout '" + name + ".key' -out '" + name +
               ".csr' -subj '/CN=" + name + "'" + " && printf 'subjectAltName=DNS:" + name +
               "\\nbasicConstraints=CA:FALSE\\nextendedKeyUsage=serverAuth\\n' > '" + name + ".ext'" +
               " && openssl x509 -req -in '" + name + ".csr' -CA ca.pem -CAkey ca.key -CAcreateserial" +
               " -days 2 -extfile '" + name + ".ext' -out '" + name + ".pem'");
        }
        // The right name, but signed by nobody the client trusts.
        sh("cd " + d + " && openssl req -x509 " + ec + " -keyout self.key -out self.pem -days 2" +
           " -subj '/CN=localhost' -addext subjectAltName=DNS:localhost");

        fs::create_directory(dir_ / "bin");
        writeFile(dir_ / "bin" / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + d + "/opened'\n");
        writeFile(dir_ / "bin" / "zenity",
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + d + "/zenity'\n");
        for (const char* name : {"xdg-open", "zenity"}) {
            fs::permissions(dir_ / "bin" / name, fs::perms::owner_all, fs::perm_options::add);
        }
    }

    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static fs::path cert(const std::string& name) { return dir_ / (name + ".pem"); }
    static fs::path key(const std::string& name) { return dir_ / (name + ".key"); }

    // Runs one submission in the driver program and reports what became of it.
    static Outcome submit(std::uint16_t port, int connectTimeout = 60, int stallTimeout = 30,
                          const std::vector<std::string>& extraEnv = {}) {
        fs::remove(dir_ / "opened");
        fs::remove(dir_ / "zenity");
        const std::string log = (dir_ / "child.log").string();

        std::vector<std::string> args = {SUBMIT_DRIVER, std::to_string(port), (dir_ / "ca.pem").string(),
                                         std::to_string(connectTimeout), std::to_string(stallTimeout)};
        // A clean environment: no proxy settings unless the test gives some, and a
        // display so that the error is also shown as a dialog.
        const char* path = std::getenv("PATH");
        std::vector<std::string> env = {"PATH=" + (dir_ / "bin").string() + ":" + (path ? path : "/usr/bin:/bin"),
                                        "DISPLAY=:77", "HOME=" + dir_.string()};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        Outcome outcome;
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << argv[0];
            return outcome;
        }

        // A watchdog, so a hanging submission fails the test instead of stalling it.
        const auto deadline = std::chrono::steady_clock::now() + 25s;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                outcome.killed = true;
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        if (!outcome.killed && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
        outcome.log = readFile(log);
        if (fs::exists(dir_ / "opened")) outcome.opened = readFile(dir_ / "opened");
        if (fs::exists(dir_ / "zenity")) {
            std::vector<std::string> dialogArgs;
            std::istringstream in(readFile(dir_ / "zenity"));
            for (std::string arg; std::getline(in, arg, '\0');) dialogArgs.push_back(arg);
            EXPECT_EQ(std::set<std::string>(dialogArgs.begin(), dialogArgs.end()).count("--title=Error"), 1u);
            for (const std::string& arg : dialogArgs) {
                if (arg.rfind("--text=", 0) == 0) outcome.dialog = arg.substr(7);
            }
        }
        return outcome;
    }

    static void expectOpened(const Outcome& outcome, const std::string& address) {
        EXPECT_EQ(outcome.exitCode, 0) << outcome.log;
        EXPECT_EQ(outcome.opened, address);
        EXPECT_FALSE(outcome.dialog) << *outcome.dialog;
    }

    static void expectError(const Outcome& outcome, const std::string& text) {
        EXPECT_FALSE(outcome.killed) << "the submission did not give up in time";
        EXPECT_EQ(outcome.exitCode, 1) << outcome.log;
        EXPECT_EQ(outcome.dialog, text) << outcome.log;
        EXPECT_NE(outcome.log.find("Error: " + text), std::string::npos) << outcome.log;
        EXPECT_FALSE(outcome.opened) << *outcome.opened;
    }

    static inline fs::path dir_;
};

TEST_F(HttpsSubmission, SendsExactlyTheSpecifiedRequest) {
    TestServer server(cert("localhost"), key("localhost"), reply(201, "abc123XYZ789"));
    const Outcome outcome = submit(server.port());
    expectOpened(outcome, "https://localhost:" + std::to_string(server.port()) + "/benchmarks/abc123XYZ789");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const SeenRequest& req = requests[0];
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, "/api/benchmarks");
    const std::string body = buildResultDocument(sampleInventory()).dump();
    EXPECT_EQ(req.body, body);
    std::map<std::string, std::string> headers;
    for (const auto& [name, value] : req.headers) {
        // cpp-httplib adds the socket addresses as headers of its own.
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT") {
            headers[name] = value;
        }
    }
    EXPECT_EQ(headers, (std::map<std::string, std::string>{
                           {"Content-Length", std::to_string(body.size())},
                           {"Content-Type", "application/json; charset=utf-8"},
                           {"Host", "localhost:" + std::to_string(server.port())},
                           {"User-Agent", "Tallyforge_Benchmark/1.0"},
                       }));

    // What arrived is what the result service accepts: strict shape and a matching digest.
    std::string why;
    const auto parsed = parseResultDocument(nlohmann::json::parse(req.body), &why);
    ASSERT_TRUE(parsed) << why;
    EXPECT_EQ(computeResultDigest(parsed->inventory), parsed->uuid);
    EXPECT_EQ(parsed->inventory.gl_gpu.renderer, "llvmpipe \xEF\xBF\xBD(LLVM 15)");
}

TEST_F(HttpsSubmission, ActsOnTheReply) {
    const std::string generic = kSubmitFailedText;
    struct Case {
        const char* what;
        int status;
        std::string body;
        bool success;
        std::string text;  // the address after "/benchmarks/", or the error text
    };
    const std::vector<Case> cases = {
        {"201 opens the page", 201, "abc123XYZ789", true, "abc123XYZ789"},
        {"201 with a trailing line break", 201, "abc123XYZ789\n", false, kNotAnIdentifierText},
        {"201 with a short identifier", 201, "abc123", false, kNotAnIdentifierText},
        {"201 with another address", 201, "@evil.example", false, kNotAnIdentifierText},
        {"201 past the limit", 201, std::string(kMaxReplyBytes + 1, 'a'), false, generic},
        {"a refusal past the limit", 400, std::string(kMaxReplyBytes + 1, 'a'), false, generic},
        {"a redirect without a body", 307, "", false, generic},
        {"200 is not success", 200, "stored", false, "stored"},
        {"the service's refusal is shown", 400, "The document is not valid.", false, "The document is not valid."},
        {"500 without a body", 500, "", false, generic},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestServer server(cert("localhost"), key("localhost"), reply(c.status, c.body));
        const Outcome outcome = submit(server.port());
        if (c.success) {
            expectOpened(outcome, "https://localhost:" + std::to_string(server.port()) + "/benchmarks/" + c.text);
        } else {
            expectError(outcome, c.text);
        }
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

TEST_F(HttpsSubmission, FailsWithTheGenericTextWithoutAReply) {
    const std::string generic = kSubmitFailedText;
    {
        SCOPED_TRACE("connection refused");
        std::uint16_t port;
        {
            Listener closed;
            port = closed.port();
        }
        expectError(submit(port), generic);
    }
    {
        SCOPED_TRACE("connection accepted, handshake never answered");
        Listener silent;  // the kernel completes the connection; nobody ever reads
        expectError(submit(silent.port(), 2, 2), generic);
    }
    {
        SCOPED_TRACE("request read, reply never sent");
        std::unique_ptr<TestServer> server;
        server = std::make_unique<TestServer>(cert("localhost"), key("localhost"),
                                              [&server](const httplib::Request&, httplib::Response& res) {
                                                  server->waitUntilReleased();
                                                  res.status = 201;
                                              });
        expectError(submit(server->port(), 2, 2), generic);
        EXPECT_EQ(server->requests().size(), 1u);
    }
}

TEST_F(HttpsSubmission, RefusesServersItCannotVerify) {
    for (const std::string name : {"self", "other.invalid"}) {
        SCOPED_TRACE(name);
        TestServer server(cert(name), key(name), reply(201, "abc123XYZ789"));
        expectError(submit(server.port()), kSubmitFailedText);
        EXPECT_TRUE(server.requests().empty());
    }
}

// A redirect is answered like any other status: the document, machine identifier and
// all, goes nowhere else.
TEST_F(HttpsSubmission, FollowsNoRedirect) {
    TestServer target(cert("localhost"), key("localhost"), reply(201, "abc123XYZ789"));
    TestServer plain(reply(201, "abc123XYZ789"));
    for (const int status : {301, 302, 303, 307, 308}) {
        for (const std::string& location :
             {"https://localhost:" + std::to_string(target.port()) + "/api/benchmarks",
              "http://localhost:" + std::to_string(plain.port()) + "/api/benchmarks"}) {
            SCOPED_TRACE(std::to_string(status) + " to " + location);
            TestServer server(cert("localhost"), key("localhost"), [&](const httplib::Request&, httplib::Response& res) {
                res.status = status;
                res.set_header("Location", location);
            });
            expectError(submit(server.port()), kSubmitFailedText);
            EXPECT_EQ(server.requests().size(), 1u);
        }
    }
    EXPECT_TRUE(target.requests().empty());
    EXPECT_TRUE(plain.requests().empty());
}

// The client on its own, in this process, so the status it got can be seen.
class HttpsClientReply : public HttpsSubmission {
protected:
    static HttpsClient client(std::uint16_t port) {
        HttpsClient c;
        c.userAgent = kUserAgent;
        c.host = "localhost";
        c.port = port;
        c.caPem = readFile(dir_ / "ca.pem");
        return c;
    }
};

TEST_F(HttpsClientReply, ARedirectIsJustItsStatus) {
    TestServer target(cert("localhost"), key("localhost"), reply(201, "abc123XYZ789"));
    TestServer server(cert("localhost"), key("localhost"), [&](const httplib::Request&, httplib::Response& res) {
        res.status = 307;
        res.set_header("Location", "https://localhost:" + std::to_string(target.port()) + "/api/benchmarks");
        res.set_content("Moved.", "text/plain");
    });
    const auto response = client(server.port()).post(kSubmitPath, "{}", kSubmitHeader);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode, 307u);
    EXPECT_EQ(response->body, "Moved.");
    EXPECT_FALSE(response->tooLarge);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(target.requests().empty());

    // The target does answer when asked directly, so its silence above means something.
    const auto direct = client(target.port()).post(kSubmitPath, "{}", kSubmitHeader);
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->statusCode, 201u);
    EXPECT_EQ(target.requests().size(), 1u);
}

TEST_F(HttpsClientReply, ReadsNoMoreThanTheLimit) {
    struct Case {
        std::size_t size;
        bool chunked;  // no Content-Length: the reply's size shows only while reading
    };
    for (const Case c : {Case{kMaxReplyBytes, false}, Case{kMaxReplyBytes, true}, Case{kMaxReplyBytes + 1, false},
                         Case{kMaxReplyBytes + 1, true}, Case{8 * 1024 * 1024, false}}) {
        SCOPED_TRACE(std::to_string(c.size) + (c.chunked ? " chunked" : ""));
        std::string body(c.size, '\0');
        for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
        TestServer server(cert("localhost"), key("localhost"), [&](const httplib::Request&, httplib::Response& res) {
            res.status = 400;
            if (!c.chunked) {
                res.set_content(body, "text/plain");
                return;
            }
            res.set_chunked_content_provider("text/plain", [&](std::size_t offset, httplib::DataSink& sink) {
                const std::size_t n = std::min<std::size_t>(4096, body.size() - offset);
                sink.write(body.data() + offset, n);
                if (offset + n == body.size()) sink.done();
                return true;
            });
        });
        const auto response = client(server.port()).post(kSubmitPath, "{}", kSubmitHeader);
        ASSERT_TRUE(response);
        EXPECT_EQ(response->statusCode, 400u);
        const bool tooLarge = c.size > kMaxReplyBytes;
        EXPECT_EQ(response->tooLarge, tooLarge);
        EXPECT_EQ(response->body, body.substr(0, kMaxReplyBytes));
        EXPECT_EQ(interpretResponse(response, "localhost", server.port()).text,
                  tooLarge ? std::string(kSubmitFailedText) : body);
    }
}

TEST_F(HttpsSubmission, GoesThroughTheProxyOfTheEnvironment) {
    TestServer server(cert("localhost"), key("localhost"), reply(201, "abc123XYZ789"));
    RefusingProxy proxy;
    const Outcome outcome =
        submit(server.port(), 60, 30, {"https_proxy=http://127.0.0.1:" + std::to_string(proxy.port())});
    expectError(outcome, kSubmitFailedText);
    EXPECT_EQ(proxy.head().rfind("CONNECT localhost:" + std::to_string(server.port()) + " HTTP/1.1\r\n", 0), 0u)
        << proxy.head();
    EXPECT_TRUE(server.requests().empty());
}
