// Resident memory of tallyforge-results while many clients send it big chunked bodies: to
// /healthz, to a page and to the submission, all at once per target. Starts the built-in
// HTTPS service with SQLite, or a plain-HTTP instance behind nginx with the site of
// deploy/nginx (--door), samples the service's VmRSS from /proc while the bodies go
// out, and prints before, peak and after, with how many requests got 413. Figures only.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/server/service_testkit.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWorkers = 512;  // the service's connection threads

struct Settings {
    std::string exe;  // empty: this build's service
    int connections = 64;
    std::size_t mib = 100;
    std::string door = "built-in";  // built-in, nginx or both
    int portBase = 19330;
};

void usage(std::FILE* to) {
    std::fputs(
        "usage: body_flood [--exe FILE] [--connections N] [--mib M] [--door built-in|nginx|both] [--port-base P]\n"
        "\n"
        "Starts tallyforge-results (see --door) and sends N parallel chunked bodies of M MiB\n"
        "(default 64 of 100) to /healthz, to the page /benchmarks and to /api/benchmarks, one target after the\n"
        "other; prints the service's resident memory before, at its peak during and after, and how\n"
        "many requests got 413. Goal: it grows by less than 16 MB.\n"
        "  --exe FILE     measure another build of the service (an older one, say)\n"
        "  --door D       built-in (default): the built-in HTTPS service; nginx: a --plain-http instance\n"
        "                 behind nginx with deploy/nginx/tallyforge.conf on loopback ports P and P+1\n"
        "                 (default 19330), the bodies sent to nginx over HTTPS; both: one, then the other\n"
        "  --help         show this text\n", to);
}

long statusKb(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    }
    return -1;
}

// Samples VmRSS every 5 ms until stopped; keeps the highest.
class RssSampler {
public:
    explicit RssSampler(pid_t pid) : pid_(pid), thread_([this] {
        while (!stop_) {
            peak_ = std::max(peak_.load(), statusKb(pid_, "VmRSS:"));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }) {}
    ~RssSampler() {
        stop_ = true;
        thread_.join();
    }
    long peak() const { return peak_; }

private:
    pid_t pid_;
    std::atomic<bool> stop_{false};
    std::atomic<long> peak_{0};
    std::thread thread_;
};

struct Outcome {
    int status = 0;  // 0: no reply
    std::size_t sent = 0;
};

// Source address i: 127.5.x.y, so that nginx's per-address limits see as many clients.
std::string sourceAddress(std::size_t i) {
    return "127.5." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
}

Outcome flood(int port, bool tls, const std::string& source, const std::string& head, std::size_t total,
              const std::string& chunk, std::size_t chunkContent) {
    Outcome out;
    testkit::RawConnection conn(port, tls, source);
    if (!conn.ok() || !conn.send(head)) return out;
    while (out.sent < total && !conn.readable(0)) {
        if (!conn.send(chunk)) break;
        out.sent += chunkContent;
    }
    if (out.sent >= total) conn.send("0\r\n\r\n");
    std::string reply;
    conn.readToEnd(reply);
    if (reply.rfind("HTTP/1.1 ", 0) == 0) out.status = std::atoi(reply.c_str() + 9);
    return out;
}

void measure(const char* title, pid_t pid, int port, bool tls, const Settings& s) {
    const std::string piece(64 * 1024, '{');
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    const std::string chunk = size + piece + "\r\n";
    const std::size_t total = s.mib * 1024 * 1024;

    std::printf("\n%s, pid %d: %d parallel chunked bodies of %zu MiB per target\n", title, int(pid), s.connections,
                s.mib);
    // What serving many clients at once takes anyway (TLS set up, each of the 512 workers'
    // first request) is in the figure before: the bodies' part is what comes on top.
    {
        std::vector<std::unique_ptr<testkit::RawConnection>> warm;
        for (int i = 0; i < kWorkers; ++i) {
            warm.push_back(std::make_unique<testkit::RawConnection>(port, tls, sourceAddress(std::size_t(i))));
        }
        for (auto& conn : warm) conn->send("GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        for (auto& conn : warm) {
            std::string reply;
            conn->readReply(reply);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = statusKb(pid, "VmRSS:");
    std::printf("  resident before (after %d parallel GET /healthz): %.1f MB (VmHWM %.1f MB)\n", kWorkers,
                double(before) / 1024, double(statusKb(pid, "VmHWM:")) / 1024);
    long peak = before;
    int refused = 0, requests = 0;
    const auto started = Clock::now();
    for (const char* target : {"POST /healthz", "POST /benchmarks", "POST /api/benchmarks"}) {
        const std::string head = std::string(target) +
                                 " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                 "Transfer-Encoding: chunked\r\n\r\n";
        std::vector<Outcome> outcomes(std::size_t(s.connections));
        const auto t0 = Clock::now();
        long targetPeak = 0;
        {
            RssSampler sampler(pid);
            std::vector<std::thread> threads;
            for (std::size_t i = 0; i < outcomes.size(); ++i) {
                threads.emplace_back(
                    [&, i] { outcomes[i] = flood(port, tls, sourceAddress(i), head, total, chunk, piece.size()); });
            }
            for (auto& t : threads) t.join();
            targetPeak = sampler.peak();
            peak = std::max(peak, targetPeak);
        }
        std::map<int, int> statuses;
        double sentMib = 0;
        for (const auto& o : outcomes) {
            statuses[o.status]++;
            sentMib += double(o.sent) / (1024.0 * 1024.0);
        }
        refused += statuses.count(413) ? statuses[413] : 0;
        requests += s.connections;
        std::string counts;
        for (const auto& [status, n] : statuses) {
            counts += (counts.empty() ? "" : ", ") + std::to_string(n) + "x " +
                      (status ? std::to_string(status) : std::string("no reply"));
        }
        std::printf("  %-22s %s; %.1f MiB sent per request on average; resident peak %.1f MB; %.1f s\n", target,
                    counts.c_str(), sentMib / s.connections, double(targetPeak) / 1024,
                    std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long after = statusKb(pid, "VmRSS:");
    const double grew = double(peak - before) / 1024;
    std::printf("  resident peak during: %.1f MB (VmHWM %.1f MB), after: %.1f MB; %.1f s in all\n",
                double(peak) / 1024, double(statusKb(pid, "VmHWM:")) / 1024, double(after) / 1024,
                std::chrono::duration<double>(Clock::now() - started).count());
    std::printf("  %-40s %.1f MB (goal < 16 MB)  %s\n", "grew by:", grew, grew < 16 ? "ok" : "MISSED");
    std::printf("  %-40s %d of %d (goal all)  %s\n", "requests answered 413:", refused, requests,
                refused == requests ? "ok" : "MISSED");
}

// nginx with the deploy site on loopback in front of one plain-HTTP instance.
pid_t startNginx(const testkit::TempDir& dir, int instancePort, int httpPort, int httpsPort) {
    std::ifstream in(TALLYFORGE_NGINX_SITE);
    std::stringstream site;
    for (std::string line; std::getline(in, line);) {
        auto swap = [&](const std::string& from, const std::string& to) {
            for (auto at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size())) {
                line.replace(at, from.size(), to);
            }
        };
        if (line.find("listen [::]") != std::string::npos || line.find("127.0.0.1:8082") != std::string::npos) continue;
        swap("listen 80;", "listen 127.0.0.1:" + std::to_string(httpPort) + ";");
        swap("listen 443 ssl http2;", "listen 127.0.0.1:" + std::to_string(httpsPort) + " ssl http2;");
        swap("127.0.0.1:8081", "127.0.0.1:" + std::to_string(instancePort));
        swap("/etc/tallyforge/server.pem", dir.file("cert.pem"));
        swap("/etc/tallyforge/server.key", dir.file("key.pem"));
        site << line << '\n';
    }
    mkdir(dir.file("nginx").c_str(), 0755);
    std::ofstream(dir.file("nginx/site.conf")) << site.str();
    const std::string n = dir.file("nginx");
    std::ofstream(dir.file("nginx/nginx.conf"))
        << "daemon off;\nworker_processes 2;\nworker_rlimit_nofile 16384;\npid " << n << "/nginx.pid;\n"
        << "error_log " << n << "/error.log warn;\nevents { worker_connections 4096; }\nhttp {\n"
        << "    include /etc/nginx/mime.types;\n    access_log off;\n"
        << "    client_body_temp_path " << n << "/body;\n    proxy_temp_path " << n << "/proxy;\n"
        << "    fastcgi_temp_path " << n << "/fastcgi;\n    uwsgi_temp_path " << n << "/uwsgi;\n"
        << "    scgi_temp_path " << n << "/scgi;\n    include " << n << "/site.conf;\n}\n";
    chmod(dir.path().c_str(), 0755);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        const std::string conf = n + "/nginx.conf", err = n + "/error.log";
        execlp("nginx", "nginx", "-c", conf.c_str(), "-e", err.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage(stderr);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--exe") s.exe = next();
        else if (a == "--connections") s.connections = std::max(1, std::stoi(next()));
        else if (a == "--mib") s.mib = std::max<std::size_t>(1, std::stoul(next()));
        else if (a == "--door" && i + 1 < argc && (std::string(argv[i + 1]) == "built-in" ||
                                                   std::string(argv[i + 1]) == "nginx" ||
                                                   std::string(argv[i + 1]) == "both")) s.door = next();
        else if (a == "--port-base") s.portBase = std::stoi(next());
        else {
            const bool help = a == "--help" || a == "-h";
            usage(help ? stdout : stderr);
            return help ? 0 : 2;
        }
    }
    signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    testkit::TempDir dir;
    if (s.door != "nginx") {
        testkit::ServiceProcess service(dir, {"sqlite:" + dir.file("https.db"), true, 0, {}});
        service.useExecutable(s.exe);
        std::string why;
        if (!service.start(&why)) {
            std::printf("the service did not start: %s\n", why.c_str());
            return 1;
        }
        measure("built-in HTTPS, SQLite", service.pid(), service.port(), true, s);
    }
    if (s.door != "built-in") {
        testkit::ServiceProcess instance(dir, {"sqlite:" + dir.file("plain.db"), false, 0, {}});
        instance.useExecutable(s.exe);
        std::string why;
        if (!instance.start(&why)) {
            std::printf("the plain-HTTP instance did not start: %s\n", why.c_str());
            return 1;
        }
        if (!std::ifstream(dir.file("cert.pem")) && !testkit::makeCertificate(dir.path())) {
            std::puts("openssl could not make a certificate for nginx");
            return 1;
        }
        const pid_t nginx = startNginx(dir, instance.port(), s.portBase, s.portBase + 1);
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            testkit::RawConnection probe(s.portBase + 1, true);
            up = probe.ok();
        }
        if (!up) {
            std::ifstream log(dir.file("nginx/error.log"));
            std::printf("nginx did not start:\n%s\n", std::string(std::istreambuf_iterator<char>(log), {}).c_str());
            kill(nginx, SIGTERM);
            waitpid(nginx, nullptr, 0);
            return 1;
        }
        measure("plain-HTTP instance behind nginx (HTTPS to nginx)", instance.pid(), s.portBase + 1, true, s);
        kill(nginx, SIGTERM);
        waitpid(nginx, nullptr, 0);
    }
    return 0;
}
