#include "tests/server/service_testkit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/document.h"

extern char** environ;

namespace testkit {

// TALLYFORGE_RESULTS_EXE in the environment runs another build (a bench comparing two).
std::string serviceExecutable() {
    const char* other = std::getenv("TALLYFORGE_RESULTS_EXE");
    return other && *other ? other : TALLYFORGE_RESULTS_EXE;
}
std::string saltFile() { return TALLYFORGE_SALT_FILE; }
std::string pgCtlScript() { return TALLYFORGE_PG_CTL; }

const std::vector<unsigned char>& salt() {
    static const std::vector<unsigned char> bytes = [] {
        std::ifstream in(saltFile(), std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/tallyforge-server-test.XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

SystemInventory sampleInventory(std::uint64_t variant) {
    SystemInventory inv;
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "4C4C4544-0042-3510-8052-%012llX",
                  static_cast<unsigned long long>(variant));
    inv.windows_uuid = uuid;
    inv.windows_version = "Microsoft Windows 11 Pro";
    inv.processor = {"GenuineIntel", "13th Gen Intel(R) Core(TM) i7-13700K", "LGA1700", 3400, 16, 24,
                     24576, 30720};
    inv.computer_system = {1, 34359738368ull, "ASUS", "System Product Name"};
    inv.video_controllers = {{"NVIDIA GeForce RTX 4070", "NVIDIA GeForce RTX 4070", "31.0.15.5222",
                              "PCI\\VEN_10DE&DEV_2786&SUBSYS_88E61043&REV_A1\\4&2B3C1B4&0&0008"}};
    inv.gl_gpu = {"NVIDIA Corporation", "NVIDIA GeForce RTX 4070/PCIe/SSE2"};
    inv.width = 2560;
    inv.height = 1440;
    // Scores that scale with threads up to the 16 cores, a little more with SMT, then flat.
    const std::uint64_t intSingle = 1840 + variant % 97;
    const std::uint64_t floatSingle = 1210 + variant % 89;
    for (std::uint64_t t : {1, 2, 4, 6, 8, 12, 16, 24, 32, 48, 64}) {
        const double effective = t <= 16 ? double(t) * (1.0 - 0.012 * double(t)) : 16 * 0.81 + 1.9;
        inv.score.cpu_integer.push_back({t, std::uint64_t(double(intSingle) * effective)});
        inv.score.cpu_float.push_back({t, std::uint64_t(double(floatSingle) * effective * 0.97)});
    }
    inv.score.gpu = {{1, 412 + variant % 50, 356, 298},
                     {2, 655, 571, 502},
                     {3, 287, 241, 199},
                     {4, 198, 171, 149}};
    return inv;
}

std::string signedDocument(const SystemInventory& inventory) {
    return buildResultDocument(inventory, salt().data(), salt().size()).dump();
}

RawConnection::RawConnection(int port, bool tls, const std::string& source) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (!source.empty()) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) return;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    timeval wait{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (!tls) {
        ok_ = true;
        return;
    }
    ctx_ = SSL_CTX_new(TLS_client_method());
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    ok_ = SSL_connect(ssl_) == 1;
}
RawConnection::~RawConnection() {
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
    if (fd_ >= 0) close(fd_);
}
bool RawConnection::send(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ssl_ ? SSL_write(ssl_, data.data() + done, int(data.size() - done))
                               : ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

bool RawConnection::readable(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (ssl_ && SSL_pending(ssl_) > 0) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, int(std::max<long>(0, long(left.count())))) <= 0) return false;
        if (!ssl_) return true;
        const int flags = fcntl(fd_, F_GETFL);
        fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
        char byte;
        const int n = SSL_peek(ssl_, &byte, 1);
        const int err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, n);
        fcntl(fd_, F_SETFL, flags);
        if (err != SSL_ERROR_WANT_READ) return true;
    }
}

bool RawConnection::readToEnd(std::string& into) {
    char buffer[16384];
    for (;;) {
        if (!readable(10000)) return false;
        const ssize_t n = ssl_ ? SSL_read(ssl_, buffer, sizeof buffer) : recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return true;  // closed, or reset after the lingering close
        into.append(buffer, std::size_t(n));
    }
}

bool RawConnection::readReply(std::string& into) {
    char byte;
    while (into.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ssl_ ? SSL_read(ssl_, &byte, 1) : recv(fd_, &byte, 1, 0);
        if (n <= 0) return false;
        into += byte;
    }
    const auto at = into.find("Content-Length: ");
    if (at == std::string::npos) return false;
    const std::size_t want = into.find("\r\n\r\n") + 4 + std::stoul(into.substr(at + 16));
    while (into.size() < want) {
        const ssize_t n = ssl_ ? SSL_read(ssl_, &byte, 1) : recv(fd_, &byte, 1, 0);
        if (n <= 0) return false;
        into += byte;
    }
    return true;
}

int runProgram(const std::vector<std::string>& argv, std::string* output) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;  // only fds 1 and 2 reach the child
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, std::size_t(n));
    close(pipeFds[0]);
    if (output) *output = text;
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool makeCertificate(const std::string& dir) {
    return runProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-days", "2", "-subj", "/CN=localhost", "-addext",
                       "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", dir + "/key.pem", "-out",
                       dir + "/cert.pem"}) == 0;
}

int freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    close(fd);
    return port;
}

ServiceProcess::ServiceProcess(const TempDir& workDir, Config config)
    : dir_(workDir), config_(std::move(config)) {}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) stop(SIGKILL);
}

std::string ServiceProcess::log() const {
    std::ifstream in(logFile_);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool ServiceProcess::start(std::string* whyNot) {
    static int counter = 0;
    logFile_ = dir_.file("service-" + std::to_string(++counter) + ".log");
    std::vector<std::string> argv = prefix_;
    argv.insert(argv.end(), {executable_.empty() ? serviceExecutable() : executable_, "--listen", "127.0.0.1:0", "--database",
                                     config_.database, "--salt", saltFile(), "--rate-limit",
                                     std::to_string(config_.rateLimit)});
    if (config_.tls) {
        if (!std::filesystem::exists(dir_.file("cert.pem")) && !makeCertificate(dir_.path())) {
            if (whyNot) *whyNot = "openssl could not make a certificate";
            return false;
        }
        argv.insert(argv.end(), {"--tls-cert", dir_.file("cert.pem"), "--tls-key", dir_.file("key.pem")});
    } else {
        argv.push_back("--plain-http");
    }
    argv.insert(argv.end(), config_.extraArgs.begin(), config_.extraArgs.end());

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int logFd = open(logFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) {
        if (whyNot) *whyNot = "cannot create " + logFile_;
        return false;
    }
    // fork and exec rather than posix_spawn, to tie the service's life to this process:
    // a test killed by its time limit must not leave a service running.
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(logFd, 1);
        dup2(logFd, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    close(logFd);
    if (pid_ < 0) {
        pid_ = -1;
        if (whyNot) *whyNot = "cannot start " + argv[0];
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string text = log();
        const auto at = text.find("listening on ");
        if (at != std::string::npos && text.find(" with ", at) != std::string::npos) {
            const auto begin = at + 13;
            baseUrl_ = text.substr(begin, text.find(' ', begin) - begin);
            port_ = std::stoi(baseUrl_.substr(baseUrl_.rfind(':') + 1));
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            if (whyNot) *whyNot = "the service ended at start:\n" + log();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (whyNot) *whyNot = "the service did not start listening:\n" + log();
    stop(SIGKILL);
    return false;
}

int ServiceProcess::stop(int signal, int timeoutMs) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::unique_ptr<httplib::Client> ServiceProcess::client() const {
    auto c = std::make_unique<httplib::Client>(baseUrl_);
    if (config_.tls) {
        c->set_ca_cert_path(dir_.file("cert.pem").c_str());
        c->enable_server_certificate_verification(true);
    }
    c->set_connection_timeout(5);
    c->set_read_timeout(20);
    c->set_write_timeout(20);
    return c;
}

namespace {
Reply toReply(const httplib::Result& result) {
    Reply reply;
    if (!result) return reply;
    reply.status = result->status;
    reply.body = result->body;
    reply.contentType = result->get_header_value("Content-Type");
    reply.headers = result->headers;
    return reply;
}
}  // namespace

Reply ServiceProcess::get(const std::string& path) const { return toReply(client()->Get(path.c_str())); }

Reply ServiceProcess::post(const std::string& body, const std::string& contentType,
                           const httplib::Headers& headers) const {
    return toReply(client()->Post("/api/benchmarks", headers, body, contentType.c_str()));
}

std::unique_ptr<PostgresCluster> PostgresCluster::start(std::string* whyNot, bool* notInstalled) {
    const int port = freeLoopbackPort();
    std::string output;
    const int rc = runProgram({pgCtlScript(), "start", std::to_string(port)}, &output);
    if (notInstalled) *notInstalled = rc == 77;
    if (rc != 0) {
        if (whyNot) *whyNot = output.empty() ? "pg_ctl.sh failed" : output;
        return nullptr;
    }
    std::unique_ptr<PostgresCluster> cluster(new PostgresCluster());
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("DIR=", 0) == 0) cluster->dir_ = line.substr(4);
        if (line.rfind("URL=", 0) == 0) cluster->url_ = line.substr(4);
    }
    cluster->port_ = port;
    if (cluster->url_.empty()) {
        if (whyNot) *whyNot = "pg_ctl.sh gave no URL:\n" + output;
        return nullptr;
    }
    return cluster;
}

std::string PostgresCluster::createDatabase(const std::string& name) const {
    if (runProgram({pgCtlScript(), "createdb", std::to_string(port_), name}) != 0) return {};
    return url_.substr(0, url_.rfind('/') + 1) + name;
}

bool PostgresCluster::restart(double secondsDown) const {
    return runProgram({pgCtlScript(), "restart", dir_, std::to_string(secondsDown)}) == 0;
}

PostgresCluster::~PostgresCluster() {
    if (!dir_.empty()) runProgram({pgCtlScript(), "stop", dir_});
}

std::string findChromium() {
    for (const char* name : {"chromium", "chromium-browser"}) {
        std::string out;
        if (runProgram({"sh", "-c", std::string("command -v ") + name}, &out) == 0 && !out.empty()) {
            return out.substr(0, out.find('\n'));
        }
    }
    return {};
}

std::vector<std::string> chromiumArgs(const std::string& chromium, const std::string& profile) {
    return {"timeout", "120", chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--no-first-run", "--hide-scrollbars",
            "--user-data-dir=" + profile};
}

std::string screenshot(const std::string& chromium, const std::string& profile, const std::string& url,
                       const std::string& png, const std::string& size, const std::vector<std::string>& flags) {
    std::filesystem::remove(png);
    auto args = chromiumArgs(chromium, profile);
    args.insert(args.end(), flags.begin(), flags.end());
    args.insert(args.end(), {"--window-size=" + size, "--screenshot=" + png, url});
    std::string out;
    const int status = runProgram(args, &out);
    if (status != 0) return "chromium exited with " + std::to_string(status) + ": " + out;
    if (!std::filesystem::exists(png)) return "no screenshot written: " + out;
    return {};
}

std::string benchDatabase(const std::string& kind, const TempDir& dir, std::unique_ptr<PostgresCluster>& cluster,
                          std::string* whyNot, bool* notInstalled) {
    if (kind != "postgresql") return "sqlite:" + dir.file("results.db");
    cluster = PostgresCluster::start(whyNot, notInstalled);
    return cluster ? cluster->url() : std::string();
}

}  // namespace testkit
