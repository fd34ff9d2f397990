#include "server/service.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "core/document.h"
#include "server/bounded_server.h"
#include "server/browse_routes.h"
#include "server/history.h"
#include "server/identifier.h"
#include "server/pages.h"
#include "server/recheck.h"
#include "server/service_log.h"
#include "server/submission.h"

namespace {

// Connections are served one thread each for as long as they are kept alive, so a client
// that sends nothing holds a thread until a time-out ends it. The pool absorbs about
// kWorkerThreads / kClientTimeoutSeconds new slow connections a second; past that,
// requests queue. Plenty for one machine; a public service puts nginx in front.
constexpr std::size_t kWorkerThreads = 512;
// Between two reads of one request, and while a kept-alive connection waits for the next.
// The client sends its submission at once; a page load's requests follow each other. The
// whole of a request's head, and of a submission's body, has a deadline besides
// (--request-timeout, see server/bounded_server.h).
constexpr time_t kClientTimeoutSeconds = 2;

// TLS 1.2 with forward-secret AEAD suites only (TLS 1.3's are all AEAD), in our order.
constexpr const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

bool hardenTls(SSL_CTX* ctx) {
    if (!ctx) return false;
    SSL_CTX_set_options(ctx, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION |
                                 SSL_OP_NO_COMPRESSION | SSL_OP_NO_TICKET);
    return SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) == 1 &&
           SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) == 1;
}

// Results other instances stored reach this one's standings within this time.
constexpr auto kRankRefreshInterval = std::chrono::minutes(5);
// After a refresh that failed (the database away), the next try comes this soon.
constexpr auto kRankRetryInterval = std::chrono::seconds(5);
// How long one readiness answer serves, so that probes cannot load the database.
constexpr auto kReadyCacheTime = std::chrono::seconds(1);

}  // namespace

ResultService::ResultService(const ServiceOptions& options, ResultStore& store)
    : options_(options),
      store_(store),
      writer_(store, [this](const NewResult& added) {
          ++storedCount_;
          ranks_.add(added.figures);
          models_.add({added.derived.cpuModel, added.derived.gpuModel, added.figures});
      }),
      limiter_(options.rateLimit) {
    if (const std::size_t rechecked = recheckStoredResults(store_)) {
        logLine(timestamp() + " standings: checked " + std::to_string(rechecked) +
                (rechecked == 1 ? " result" : " results") + " stored under older checks");
    }
    machineKey_ = loadMachineKey(store_);
    if (const std::size_t derived = deriveStoredResults(store_, machineKey_)) {
        logLine(timestamp() + " models and machines: derived for " + std::to_string(derived) +
                (derived == 1 ? " result" : " results") + " stored before");
    }
    reloadStandings();
    if (store_.sharedWithOtherInstances()) refresher_ = std::thread([this] { refreshRanks(); });
}

ResultService::~ResultService() {
    {
        std::lock_guard lock(refreshMutex_);
        stopping_ = true;
    }
    refreshWake_.notify_all();
    if (refresher_.joinable()) refresher_.join();
}

// One read of every ranked row serves both indexes, so they agree with each other.
void ResultService::reloadStandings() {
    const std::vector<ModelFigures> rows = store_.modelFigures();
    storedCount_ = store_.count();
    ranks_.reset(sortedFiguresOf(rows));
    models_.reset(rows);
    loadModelNames(store_, models_);
}

void ResultService::refreshRanks() {
    std::unique_lock lock(refreshMutex_);
    std::chrono::seconds wait = kRankRefreshInterval;
    while (!refreshWake_.wait_for(lock, wait, [this] { return stopping_; })) {
        lock.unlock();
        try {
            recheckStoredResults(store_);  // results stored by instances with older checks
            deriveStoredResults(store_, machineKey_);
            reloadStandings();
            if (wait != kRankRefreshInterval) logLine(timestamp() + " rank refresh succeeded again");
            wait = kRankRefreshInterval;
        } catch (const std::exception& e) {
            logLine(timestamp() + " rank refresh failed, next try in " +
                    std::to_string(std::chrono::seconds(kRankRetryInterval).count()) + " s: " + oneLine(e.what()));
            wait = kRankRetryInterval;
        }
        lock.lock();
    }
}

std::string ResultService::databaseUnreachable() {
    {
        std::lock_guard lock(readyMutex_);
        if (std::chrono::steady_clock::now() - readyCheckedAt_ < kReadyCacheTime) return readyWhyNot_;
    }
    // One check at a time; while it runs, other probes take the last answer at once.
    std::unique_lock checking(readyCheckMutex_, std::try_to_lock);
    if (!checking.owns_lock()) {
        std::lock_guard lock(readyMutex_);
        return readyWhyNot_;
    }
    std::string whyNot;
    try {
        store_.checkReachable();
    } catch (const std::exception& e) {
        whyNot = oneLine(e.what());
    }
    std::lock_guard lock(readyMutex_);
    readyWhyNot_ = whyNot;
    readyCheckedAt_ = std::chrono::steady_clock::now();
    return whyNot;
}

std::string ResultService::baseUrl() const {
    const bool v6 = options_.host.find(':') != std::string::npos;
    return std::string(options_.plainHttp ? "http://" : "https://") + (v6 ? "[" : "") +
           options_.host + (v6 ? "]" : "") + ":" + std::to_string(port_);
}

int ResultService::bind(std::string* whyNot) {
    RequestBounds bounds;
    bounds.headDeadline = std::chrono::seconds(options_.requestTimeoutSeconds);
    bounds.bodyDeadline = std::chrono::seconds(options_.requestTimeoutSeconds);
    if (options_.plainHttp) {
        server_ = std::make_unique<BoundedServer>(bounds);
    } else {
        auto tls = std::make_unique<BoundedSslServer>(options_.tlsCertFile.c_str(),
                                                      options_.tlsKeyFile.c_str(), bounds);
        if (!tls->is_valid() || !hardenTls(tls->ssl_context())) {
            *whyNot = "cannot use the TLS certificate " + options_.tlsCertFile + " with the key " +
                      options_.tlsKeyFile + " (not PEM, or they do not match)";
            return 2;
        }
        server_ = std::move(tls);
    }
    server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server_->set_payload_max_length(kMaxBodyBytes);
    server_->set_keep_alive_max_count(100000);
    server_->set_keep_alive_timeout(kClientTimeoutSeconds);
    server_->set_read_timeout(kClientTimeoutSeconds);
    server_->set_write_timeout(10);
    // Replies are small and answer a waiting client: send them at once.
    server_->set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which lets a second service bind the
    // same port and silently take half the connections; a taken port must be an error.
    server_->set_socket_options([this](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listenSocket_ = sock;
    });
    httplib::Headers headers = {{"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"}};
    // Behind a proxy, the proxy says this for the name it serves.
    if (!options_.plainHttp) headers.emplace("Strict-Transport-Security", "max-age=63072000");
    server_->set_default_headers(std::move(headers));
    installRoutes();

    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.host);
        if (port_ <= 0) {
            *whyNot = "cannot listen on " + options_.host + " (any port)";
            return 1;
        }
    } else {
        if (!server_->bind_to_port(options_.host, options_.port)) {
            *whyNot = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                      " (address in use, or not an address of this machine)";
            return 1;
        }
        port_ = options_.port;
    }
    // The library listens with a backlog of 5, so a burst of new connections loses SYNs
    // and those clients wait a second for the retry. Listening again raises the backlog.
    if (listenSocket_ >= 0) ::listen(listenSocket_, SOMAXCONN);
    return 0;
}

bool ResultService::run() { return server_->listen_after_bind(); }

void ResultService::stop() {
    if (server_) server_->stop();
}
