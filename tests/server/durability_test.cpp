// The service is killed with SIGKILL in the middle of a load. After a restart every
// submission that had received 201 must be there, and the database must pass its own
// integrity check.

#include <signal.h>
#include <sqlite3.h>

#include <atomic>
#include <mutex>
#include <thread>

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

}  // namespace
