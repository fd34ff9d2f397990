// The storage layer directly, on both databases.

#include <sys/stat.h>

#include <filesystem>

#include "server/connection_pool.h"
#include "server/group_commit.h"
#include "server/identifier.h"
#include "server/submission.h"
#include "tests/server/backend_fixture.h"

namespace {

NewResult resultFor(std::uint64_t variant) {
    const std::string document = testkit::signedDocument(testkit::sampleInventory(variant));
    const SubmissionCheck check = checkSubmission("application/json", document, testkit::salt());
    return {check.digest, document, std::int64_t(1700000000000 + variant), check.figures, 0, {}, 0};
}

using StoreTest = BackendTest;

// Two copies of one document in one batch (two clients sending it at the same moment)
// are stored once and both get the one identifier.
TEST_P(StoreTest, RepeatWithinABatchIsStoredOnce) {
    auto store = openStore();
    ASSERT_TRUE(store);
    const NewResult a = resultFor(1), b = resultFor(2);
    const auto outcomes = store->insertBatch({a, a, b});
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_TRUE(isResultIdentifier(outcomes[0].id));
    EXPECT_EQ(outcomes[1].id, outcomes[0].id);
    EXPECT_TRUE(outcomes[0].added);
    EXPECT_FALSE(outcomes[1].added);
    EXPECT_TRUE(outcomes[2].added);
    EXPECT_NE(outcomes[2].id, outcomes[0].id);
    EXPECT_EQ(store->count(), 2);

    const auto again = store->insertBatch({b});
    EXPECT_EQ(again[0].id, outcomes[2].id);
    EXPECT_FALSE(again[0].added);
    const auto found = store->find(outcomes[2].id);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->document, b.document);
    EXPECT_EQ(found->receivedAtMs, b.receivedAtMs);
    EXPECT_EQ(store->recent(10).front().id, outcomes[2].id) << "newest first";

    const auto figures = store->sortedFigures();
    EXPECT_EQ(figures[0].size(), 2u);
    EXPECT_LE(figures[0][0], figures[0][1]);
    EXPECT_EQ(store->checkIntegrity(), "ok");
}

// What runs after a commit (the standings' update) may fail; the writer thread must live
// on, since every later submission waits for it, and the caller of the committed row still
// hears its identifier.
TEST_P(StoreTest, WriterOutlivesAThrowingCallback) {
    auto store = openStore();
    ASSERT_TRUE(store);
    int calls = 0;
    GroupCommitWriter writer(*store, [&](const NewResult&) {
        if (++calls % 2 == 1) throw std::runtime_error("standings update failed");
    });
    std::vector<std::string> ids;
    for (std::uint64_t v = 10; v < 14; ++v) {
        auto future = writer.submit(resultFor(v));
        ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "writer thread gone";
        ids.push_back(future.get());
        EXPECT_TRUE(isResultIdentifier(ids.back()));
    }
    EXPECT_EQ(calls, 4);
    for (const std::string& id : ids) EXPECT_TRUE(store->find(id)) << id;
}

// At most maxInUse connections are out; the next caller is refused as unavailable after
// the wait, a discarded or failed connection frees its place, and a dead idle one is
// never handed out.
TEST(ConnectionPool, BoundsConnectionsInUseAndDropsDeadOnes) {
    int made = 0;
    bool failNext = false;
    ConnectionPool<int> pool(
        [&] {
            if (failNext) throw StoreUnavailable("cannot connect");
            return std::make_unique<int>(++made);
        },
        2, std::chrono::milliseconds(100), [](int& c) { return c > 0; });
    {
        auto a = pool.acquire();
        auto b = pool.acquire();
        EXPECT_THROW(pool.acquire(), StoreUnavailable);
        b.discard();
    }
    EXPECT_EQ(made, 2);
    {
        auto a = pool.acquire();  // the one kept, not a new one
        EXPECT_EQ(*a, 1);
        *a = -1;                  // its link failed while idle
    }
    failNext = true;
    EXPECT_THROW(pool.acquire(), StoreUnavailable);  // the dead one is dropped, a new one fails
    failNext = false;
    auto a = pool.acquire();
    auto b = pool.acquire();  // the failed attempts hold no place
    EXPECT_EQ(*a + *b, 3 + 4);
    pool.discardIdle();
}

INSTANTIATE_TEST_SUITE_P(Databases, StoreTest, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

// Under a steady stream of commits the WAL must not grow without end: the background
// checkpoint never catches up on its own while commits continue.
TEST(SqliteStore, WriteAheadLogStaysBounded) {
    testkit::TempDir dir;
    std::string why;
    auto store = openResultStore("sqlite:" + dir.file("results.db"), &why);
    ASSERT_TRUE(store) << why;
    std::vector<NewResult> pool;
    for (std::uint64_t v = 0; v < 400; ++v) pool.push_back(resultFor(v));
    std::uintmax_t largest = 0;
    for (int round = 0; round < 40; ++round) {
        for (std::size_t i = 0; i < pool.size(); i += 8) {
            std::vector<NewResult> batch(pool.begin() + long(i), pool.begin() + long(i + 8));
            for (NewResult& r : batch) r.digest = std::to_string(round) + r.digest.substr(2);  // distinct rows
            store->insertBatch(batch);
        }
        largest = std::max(largest, std::filesystem::file_size(dir.file("results.db-wal")));
    }
    EXPECT_EQ(store->count(), 16000);
    EXPECT_LT(largest, 48u * 1024 * 1024) << "16,000 rows write well over 100 MB of WAL frames";
    EXPECT_EQ(store->checkIntegrity(), "ok");
}

// Raw machine identifiers and the key that hides them: for the service's user alone,
// whatever the umask, for a new database and for one an earlier version left readable.
TEST(SqliteStore, FilesAreTheServiceUsersAlone) {
    namespace fs = std::filesystem;
    testkit::TempDir dir;
    const std::string path = dir.file("results.db");
    const auto modeOf = [](const std::string& file) {
        return fs::status(file).permissions() & fs::perms::all;
    };
    const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    struct RestoreUmask {
        mode_t previous;
        ~RestoreUmask() { umask(previous); }
    } restore{umask(022)};
    {
        std::string why;
        auto store = openResultStore("sqlite:" + path, &why);
        ASSERT_TRUE(store) << why;
        store->insertBatch({resultFor(1)});
        for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
            ASSERT_TRUE(fs::exists(file)) << file;
            EXPECT_EQ(modeOf(file), ownerOnly) << file;
        }
        // Loosened while open, as a database of an earlier version would be on disk.
        for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
            fs::permissions(file, ownerOnly | fs::perms::group_read | fs::perms::others_read);
        }
        std::string whyAgain;
        auto again = openResultStore("sqlite:" + path, &whyAgain);
        ASSERT_TRUE(again) << whyAgain;
        EXPECT_EQ(again->count(), 1);
        for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
            EXPECT_EQ(modeOf(file), ownerOnly) << file;
        }
    }
}

}  // namespace
