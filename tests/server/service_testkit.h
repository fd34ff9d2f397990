#pragma once
// Helpers for driving the real tallyforge-results executable on loopback: a temporary
// directory, a self-signed certificate, a PostgreSQL cluster of its own, sample results
// signed with the real salt. Shared by the tests and bench/service_load.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <httplib.h>
#include <openssl/ssl.h>

#include "core/records.h"

namespace testkit {

// Paths fixed at build time (see tests/server/CMakeLists.txt).
std::string serviceExecutable();
std::string saltFile();
std::string pgCtlScript();
const std::vector<unsigned char>& salt();

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A plausible desktop machine and a full run; `variant` changes the system UUID and the
// scores so that every variant is a distinct document.
SystemInventory sampleInventory(std::uint64_t variant = 0);
std::string signedDocument(const SystemInventory& inventory);

// Writes cert.pem and key.pem (self-signed, for 127.0.0.1 and localhost) into dir.
bool makeCertificate(const std::string& dir);

struct Reply {
    int status = 0;  // 0: no reply at all
    std::string body;
    std::string contentType;
    httplib::Headers headers;
};

// One running service process.
class ServiceProcess {
public:
    struct Config {
        std::string database;       // --database
        bool tls = false;           // self-signed certificate made in the work dir
        unsigned rateLimit = 0;     // --rate-limit
        std::vector<std::string> extraArgs;
    };

    ServiceProcess(const TempDir& workDir, Config config);
    ~ServiceProcess();  // SIGKILL if still running
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Runs another build of the service (an older one, for a comparison) rather than this one's.
    void useExecutable(std::string path) { executable_ = std::move(path); }
    // Runs the service through this command from the next start on: {"/usr/bin/setpriv", ...}.
    void runThrough(std::vector<std::string> prefix) { prefix_ = std::move(prefix); }

    // Starts and waits for the "listening on" line; false (with the log) if it did not come.
    bool start(std::string* whyNot = nullptr);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& baseUrl() const { return baseUrl_; }
    int port() const { return port_; }
    std::string log() const;

    // Sends the signal and waits for the exit; returns the exit status, or 128+signal
    // when the process died of a signal, or -1 on timeout.
    int stop(int signal, int timeoutMs = 20000);

    std::unique_ptr<httplib::Client> client() const;
    Reply get(const std::string& path) const;
    Reply post(const std::string& body, const std::string& contentType = "application/json; charset=utf-8",
               const httplib::Headers& headers = {}) const;

private:
    const TempDir& dir_;
    Config config_;
    std::string executable_;
    std::vector<std::string> prefix_;
    pid_t pid_ = -1;
    std::string logFile_;
    std::string baseUrl_;
    int port_ = 0;
};

// One raw connection to the service, plain or TLS (no certificate check), that can see a
// reply while it is still sending: for requests no HTTP client library would send.
class RawConnection {
public:
    // From `source` on loopback (127.0.0.0/8) when given, so that per-address limits see many clients.
    RawConnection(int port, bool tls, const std::string& source = {});
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool ok() const { return ok_; }
    bool send(const std::string& data);
    // Whether something (a reply, or the end) is waiting to be read within timeoutMs. Over
    // TLS, records that carry no data (session tickets) do not count.
    bool readable(int timeoutMs);
    // Reads what comes until the service ends the connection; false if it stays open 10 s.
    bool readToEnd(std::string& into);
    // Reads one reply with a Content-Length body; false if the connection ended first.
    bool readReply(std::string& into);

private:
    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    bool ok_ = false;
};

// Runs a program to its end; returns its exit status, or -1 if it could not run.
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// A PostgreSQL cluster in a temporary directory on a loopback port, started by
// tests/server/pg_ctl.sh and stopped (and removed) again in the destructor.
class PostgresCluster {
public:
    // Null, with the reason, when PostgreSQL is not installed (notInstalled set) or does
    // not start.
    static std::unique_ptr<PostgresCluster> start(std::string* whyNot, bool* notInstalled);
    ~PostgresCluster();
    // A new, empty database in the cluster; returns its URL, or empty on failure.
    std::string createDatabase(const std::string& name) const;
    const std::string& url() const { return url_; }
    const std::string& dataDir() const { return dir_; }
    // Stops the server as `pg_ctl stop -m fast` does (every session cut off), leaves it
    // down for the given time and starts it again; true when it is back.
    bool restart(double secondsDown) const;
    int port() const { return port_; }

private:
    PostgresCluster() = default;
    std::string dir_;
    std::string url_;
    int port_ = 0;
};

// The database a benchmark works on: a SQLite file in `dir`, or for "postgresql" the
// database of a cluster of its own, started into `cluster`. Empty, saying why, when the
// cluster does not start (`notInstalled` where PostgreSQL is missing).
std::string benchDatabase(const std::string& kind, const TempDir& dir, std::unique_ptr<PostgresCluster>& cluster,
                          std::string* whyNot, bool* notInstalled);

int freeLoopbackPort();

// Headless Chromium: its path (empty when it is missing), and the flags it needs as root on
// a machine without network access, with a fresh profile folder.
std::string findChromium();
std::vector<std::string> chromiumArgs(const std::string& chromium, const std::string& profile);
// Saves a screenshot of the page at `url` as `png` (replacing an older one) with a window of
// `size` ("W,H") and any extra flags; empty on success, else what went wrong.
std::string screenshot(const std::string& chromium, const std::string& profile, const std::string& url,
                       const std::string& png, const std::string& size, const std::vector<std::string>& flags = {});

}  // namespace testkit
