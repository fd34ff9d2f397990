#pragma once
// The HTTP(S) side of tallyforge-results: routes, refusals, logging, shutdown.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/database_url.h"
#include "server/group_commit.h"
#include "server/models.h"
#include "server/options.h"
#include "server/rank_index.h"
#include "server/rate_limiter.h"
#include "server/service_log.h"
#include "server/store.h"

namespace httplib {
class Server;
class ContentReader;
}

class ResultService {
public:
    ResultService(const ServiceOptions& options, ResultStore& store);
    ~ResultService();
    ResultService(const ResultService&) = delete;
    ResultService& operator=(const ResultService&) = delete;

    // Loads the TLS files and binds the address. Returns 0, or with a reason 2 when the
    // certificate or key cannot be used and 1 when the address cannot be bound.
    int bind(std::string* whyNot);
    int port() const { return port_; }
    std::string baseUrl() const;

    // Serves until stop(); requests in flight are finished before it returns.
    bool run();
    // Safe to call from another thread.
    void stop();

private:
    void installRoutes();
    std::string acceptSubmission(const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader& readContent);
    void reloadStandings();
    void refreshRanks();
    // Empty when the database answered a trivial query within the last second, else why
    // not. One caller at a time asks the database; the others take the last answer.
    std::string databaseUnreachable();

    ServiceOptions options_;
    ResultStore& store_;
    RankIndex ranks_;
    ModelIndex models_;
    std::atomic<std::int64_t> storedCount_{0};  // rows in the store, counted once, then kept up
    std::string machineKey_;  // keys the hashes that group a machine's results
    GroupCommitWriter writer_;
    RateLimiter limiter_;
    RequestLog requestLog_;
    std::unique_ptr<httplib::Server> server_;
    int listenSocket_ = -1;
    int port_ = 0;

    std::mutex readyCheckMutex_;
    std::mutex readyMutex_;
    std::chrono::steady_clock::time_point readyCheckedAt_{};
    std::string readyWhyNot_ = "not checked yet";

    // Re-reads the rank figures now and then where other instances add results too.
    std::mutex refreshMutex_;
    std::condition_variable refreshWake_;
    bool stopping_ = false;
    std::thread refresher_;
};
