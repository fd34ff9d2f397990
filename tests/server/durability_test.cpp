// The service is killed with SIGKILL in the middle of a load. After a restart every
// submission that had received 201 must be there, and the database must pass its own
// integrity check. The database goes away under a running service (PostgreSQL restarted;
// SQLite on a full disk, read-only, locked by another process): refusals are 503 with
// Retry-After, never 500, and the service recovers once the cause is gone.

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "server/submission.h"
#include "tests/server/backend_fixture.h"

namespace {

using testkit::ServiceProcess;

struct Accepted {
    std::string id;
    std::string document;
};

using Durability = BackendTest;

TEST_P(Durability, EveryAcknowledgedResultSurvivesSigkill) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;

    constexpr int kClients = 6;
    std::mutex mutex;
    std::vector<Accepted> accepted;
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            auto client = service.client();
            client->set_keep_alive(true);
            client->set_read_timeout(5);
            for (std::uint64_t i = 0; !stop; ++i) {
                const std::string document = testkit::signedDocument(testkit::sampleInventory(1000000 * (c + 1) + i));
                auto reply = client->Post("/api/benchmarks", document, "application/json");
                if (!reply) {
                    ++failures;  // the service is gone; its fate is unknown, so it is not counted
                    if (failures > 1000) return;
                    continue;
                }
                if (reply->status == 201) {
                    std::lock_guard lock(mutex);
                    accepted.push_back({reply->body, document});
                }
            }
        });
    }
    // Let the load run, then kill without warning while requests are in flight.
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard lock(mutex);
            if (accepted.size() >= 300) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(service.stop(SIGKILL), 128 + SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (auto& t : clients) t.join();
    ASSERT_GT(accepted.size(), 50u) << "the load must have been running when the service was killed";

    ServiceProcess restarted(dir_, config());
    ASSERT_TRUE(restarted.start(&why)) << why;
    auto client = restarted.client();
    client->set_keep_alive(true);
    auto store = openStore();
    std::size_t missing = 0;
    for (const Accepted& a : accepted) {
        auto reply = client->Get(("/api/benchmarks/" + a.id).c_str());
        const auto stored = store->find(a.id);
        if (!reply || reply->status != 200 || !stored || stored->document != a.document) ++missing;
    }
    EXPECT_EQ(missing, 0u) << "of " << accepted.size() << " acknowledged results";
    EXPECT_GE(store->count(), std::int64_t(accepted.size()));
    EXPECT_EQ(store->checkIntegrity(), "ok");

    if (GetParam() == Backend::Sqlite) {
        // The file itself, read by SQLite without the service's help.
        EXPECT_EQ(restarted.stop(SIGTERM), 0);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(dir_.file("results.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "ok");
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    } else {
        // PostgreSQL's own check of every table and index (amcheck).
        std::string out;
        const std::string db = url_.substr(url_.rfind('/') + 1);
        EXPECT_EQ(testkit::runProgram({testkit::pgCtlScript(), "amcheck", std::to_string(cluster()->port()), db}, &out),
                  0)
            << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, Durability, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// "ok" from SQLite's own check of the file, read without the service.
std::string sqliteIntegrity(const std::string& file) {
    sqlite3* db = nullptr;
    std::string report = "cannot open " + file;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        report = sqlite3_errmsg(db);
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            report = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return report;
}

// One request of the load, by when it was sent (seconds from the start).
struct Sent {
    double at = 0;
    std::string what;
    int status = 0;
    bool retryAfter = false;
    std::string refusal;  // the body of a 503
};

using DatabaseRestart = BackendTest;

// pg_ctl restart -m fast under submissions, page requests and readiness probes: while the
// server is down every refusal is a 503 with Retry-After, readiness says so, and a few
// seconds after it is back everything is answered again; every 201 is stored.
TEST_P(DatabaseRestart, ServiceRecoversFromAPostgresRestart) {
    ServiceProcess service(dir_, config());
    std::string why;
    ASSERT_TRUE(service.start(&why)) << why;
    const auto seeded = service.post(testkit::signedDocument(testkit::sampleInventory(1)));
    ASSERT_EQ(seeded.status, 201) << seeded.body;

    const auto start = Clock::now();
    std::mutex mutex;
    std::vector<Sent> sent;
    std::vector<Accepted> accepted;
    std::atomic<bool> stop{false};
    auto record = [&](const std::string& what, const httplib::Result& reply, double at) {
        std::lock_guard lock(mutex);
        const int status = reply ? reply->status : 0;
        std::string body;
        if (status == 503) body = reply->get_header_value("Content-Type") + "\n" + reply->body;
        sent.push_back({at, what, status, reply && reply->has_header("Retry-After"), body});
    };
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            auto client = service.client();
            for (std::uint64_t i = 0; !stop; ++i) {
                const std::string document = testkit::signedDocument(testkit::sampleInventory(1000000 * (c + 1) + i));
                const double at = secondsSince(start);
                auto reply = client->Post("/api/benchmarks", document, "application/json");
                record("POST /api/benchmarks", reply, at);
                if (reply && reply->status == 201) {
                    std::lock_guard lock(mutex);
                    accepted.push_back({reply->body, document});
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    const std::vector<std::string> paths = {"/benchmarks", "/benchmarks/" + seeded.body,
                                            "/api/benchmarks/" + seeded.body, "/processors", "/readyz"};
    for (const std::string& path : paths) {
        clients.emplace_back([&, path] {
            auto client = service.client();
            while (!stop) {
                const double at = secondsSince(start);
                record("GET " + path, client->Get(path.c_str()), at);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const double down = secondsSince(start);
    ASSERT_TRUE(cluster()->restart(2.0));
    const double back = secondsSince(start);
    std::this_thread::sleep_for(std::chrono::seconds(8));
    stop = true;
    for (auto& t : clients) t.join();

    int refused = 0, wrong = 0, lateFailures = 0, readyRefused = 0, lateRequests = 0;
    for (const Sent& s : sent) {
        const bool ok = s.status == 200 || s.status == 201;
        if (s.status == 503) {
            ++refused;
            EXPECT_TRUE(s.retryAfter) << s.what << " answered 503 without Retry-After";
            // A sentence for the client to show under /api/, a page elsewhere.
            const std::string expected =
                s.what == "GET /readyz"                     ? "text/plain; charset=utf-8\nThe database cannot be reached."
                : s.what.rfind("POST /api/", 0) == 0        ? std::string("text/plain; charset=utf-8\n") + refusal::kNotStored
                : s.what.rfind("GET /api/", 0) == 0         ? std::string("text/plain; charset=utf-8\n") + refusal::kUnavailable
                                                            : "text/html; charset=utf-8\n";
            EXPECT_EQ(s.refusal.substr(0, expected.size()), expected) << s.what;
            if (s.what.find(" /api/") == std::string::npos && s.what != "GET /readyz") {
                EXPECT_NE(s.refusal.find("The results are out of reach for a moment"), std::string::npos) << s.what;
            }
            if (s.what == "GET /readyz") ++readyRefused;
        } else if (!ok) {
            ++wrong;
            ADD_FAILURE() << s.what << " sent at " << s.at << " s answered " << s.status;
        }
        // The service has a few seconds to notice that the database is back.
        if (s.at > back + 4) {
            ++lateRequests;
            if (!ok) ++lateFailures;
        }
    }
    EXPECT_EQ(wrong, 0) << "answers other than 200, 201 and 503";
    EXPECT_GT(refused, 0) << "the database was down from " << down << " s to " << back << " s";
    EXPECT_GT(readyRefused, 0) << "/readyz must say 503 while the database is down";
    EXPECT_GT(lateRequests, 20);
    EXPECT_EQ(lateFailures, 0) << "requests sent more than 4 s after the database was back that failed";
    EXPECT_EQ(service.get("/readyz").status, 200);

    auto store = openStore();
    std::size_t missing = 0;
    for (const Accepted& a : accepted) {
        const auto stored = store->find(a.id);
        if (!stored || stored->document != a.document) ++missing;
    }
    EXPECT_GT(accepted.size(), 50u);
    EXPECT_EQ(missing, 0u) << "of " << accepted.size() << " acknowledged results";
    EXPECT_EQ(store->checkIntegrity(), "ok");
}

INSTANTIATE_TEST_SUITE_P(Databases, DatabaseRestart, testing::Values(Backend::Postgres), backendName);

// A small file system of its own (tmpfs, 16 MiB), owned by nobody, who runs the service,
// so that file modes apply. Needs root; skipped, saying why, without it.
class SqliteTrouble : public testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system and to run as nobody";
        const passwd* nobody = getpwnam("nobody");
        const group* nogroup = getgrnam("nogroup");
        if (!nobody || !nogroup) GTEST_SKIP() << "no user nobody or group nogroup";
        mount_ = dir_.file("fs");
        std::filesystem::create_directory(mount_);
        if (::mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=16m,mode=0755") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        mounted_ = true;
        ASSERT_EQ(chown(mount_.c_str(), nobody->pw_uid, nogroup->gr_gid), 0);
        ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);  // nobody must reach the mount point
        database_ = mount_ + "/results.db";
    }
    void TearDown() override {
        service_.reset();
        if (mounted_) umount2(mount_.c_str(), MNT_DETACH);
    }

public:  // for the table of troubles
    void startService() {
        service_ = std::make_unique<ServiceProcess>(dir_, ServiceProcess::Config{"sqlite:" + database_, false, 0, {}});
        service_->runThrough({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
        std::string why;
        ASSERT_TRUE(service_->start(&why)) << why;
    }

    // Sends a new result; remembers it when it got 201.
    testkit::Reply submit() {
        const std::string document = testkit::signedDocument(testkit::sampleInventory(7000000 + next_++));
        auto reply = service_->post(document);
        if (reply.status == 201) accepted_.push_back({reply.body, document});
        return reply;
    }

    testkit::TempDir dir_;
    std::string mount_, database_;
    bool mounted_ = false;
    std::unique_ptr<ServiceProcess> service_;
    std::vector<Accepted> accepted_;
    std::uint64_t next_ = 0;
};

struct Trouble {
    std::string name;
    std::string logged;                                  // what the service's log line says
    std::function<void(SqliteTrouble&)> cause, remedy;
};

// Each cause gives a 503 with Retry-After, says which in the log, leaves the pages served
// and the file intact, and the service stores again once the cause is gone, unrestarted.
TEST_F(SqliteTrouble, FullDiskReadOnlyFileAndHeldLockAreRefusedAndRecovered) {
    std::unique_ptr<FILE, int (*)(FILE*)> locker(nullptr, pclose);
    const std::vector<Trouble> troubles = {
        {"full disk", "SQLite: the disk is full",
         [](SqliteTrouble& t) {
             std::ofstream filler(t.mount_ + "/filler", std::ios::binary);
             const std::string block(64 * 1024, 'x');
             while (filler.write(block.data(), std::streamsize(block.size())) && filler.flush()) {
             }
         },
         [](SqliteTrouble& t) { std::filesystem::remove(t.mount_ + "/filler"); }},
        {"read-only file", "SQLite: the database is read-only",
         [](SqliteTrouble& t) {
             // An open file stays writable: the service meets the mode when it opens it.
             ASSERT_EQ(t.service_->stop(SIGTERM), 0);
             ASSERT_EQ(chmod(t.database_.c_str(), 0444), 0);
             t.startService();
         },
         [](SqliteTrouble& t) { ASSERT_EQ(chmod(t.database_.c_str(), 0644), 0); }},
        {"lock held by another process", "SQLite: the database is locked by another process",
         [&locker](SqliteTrouble& t) {
             // The sqlite3 shell holds the write lock until the hold file goes.
             const std::string hold = t.mount_ + "/hold", held = t.dir_.file("held");
             std::ofstream(hold).put('1');
             const std::string command = "sqlite3 " + t.database_ + " 'BEGIN EXCLUSIVE;' '.shell touch " + held +
                                         "' '.shell while [ -e " + hold + " ]; do sleep 0.1; done' 'COMMIT;'";
             locker.reset(popen(command.c_str(), "r"));
             ASSERT_TRUE(locker);
             for (int i = 0; i < 100 && !std::filesystem::exists(held); ++i) {
                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
             }
             ASSERT_TRUE(std::filesystem::exists(held)) << "the sqlite3 shell did not take the lock";
         },
         [&locker](SqliteTrouble& t) {
             std::filesystem::remove(t.mount_ + "/hold");
             EXPECT_EQ(pclose(locker.release()), 0);
         }},
    };
    startService();
    for (const Trouble& trouble : troubles) {
        SCOPED_TRACE(trouble.name);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(submit().status, 201);
        trouble.cause(*this);
        if (HasFatalFailure()) return;

        const auto refused = submit();
        EXPECT_EQ(refused.status, 503);
        EXPECT_EQ(refused.body, refusal::kNotStored);
        EXPECT_TRUE(refused.headers.count("Retry-After"));
        // The request's line is written once its answer is out.
        for (int i = 0; i < 100 && service_->log().find(trouble.logged) == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_NE(service_->log().find(trouble.logged), std::string::npos) << service_->log().substr(0, 4000);
        EXPECT_EQ(service_->get("/benchmarks").status, 200) << "pages are read and still served";
        EXPECT_EQ(service_->get("/benchmarks/" + accepted_.front().id).status, 200);

        trouble.remedy(*this);
        // The first write after the remedy may still meet what the connection saw before.
        int status = 0;
        for (int i = 0; i < 10 && status != 201; ++i) {
            status = submit().status;
            if (status != 201) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        EXPECT_EQ(status, 201) << "no submission stored after the remedy";
        for (int i = 0; i < 3; ++i) EXPECT_EQ(submit().status, 201) << "after the remedy";
    }
    ASSERT_EQ(service_->stop(SIGTERM), 0);
    EXPECT_EQ(sqliteIntegrity(database_), "ok");
    std::string why;
    auto store = openResultStore("sqlite:" + database_, &why);
    ASSERT_TRUE(store) << why;
    std::size_t missing = 0;
    for (const Accepted& a : accepted_) {
        const auto stored = store->find(a.id);
        if (!stored || stored->document != a.document) ++missing;
    }
    EXPECT_EQ(missing, 0u) << "of " << accepted_.size() << " acknowledged results";
}

}  // namespace
