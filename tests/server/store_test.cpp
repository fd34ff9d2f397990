// The storage layer directly, on both databases.

#include <sys/stat.h>

#include <filesystem>

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
