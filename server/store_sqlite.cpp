// SQLite: one file in WAL mode with synchronous=FULL, so a committed transaction survives
// a crash or power loss. One writing connection (the group-commit thread), a pool of
// reading connections, which WAL lets run alongside the writer, and a checkpointing
// connection that copies the WAL back into the database file in the background, so
// that commits never wait for that copy.
//
// A full disk, a read-only or vanished file, an I/O error and a lock held by another
// process past the busy time-out fail the request as StoreUnavailable, saying which; the
// transaction rolls back, so the file stays as it was. After such an error the writing
// connection is opened afresh for the next write, so that a file made writable again is
// written without a restart.

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "server/connection_pool.h"
#include "server/identifier.h"
#include "server/store.h"

namespace {

class SqliteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SqliteUnavailable : public StoreUnavailable {
public:
    SqliteUnavailable(int code, const std::string& what) : StoreUnavailable(what), code_(code) {}
    // Whether the connection that saw it should be opened again: its file may have been
    // read-only, replaced or unreadable when it was opened.
    bool reopen() const {
        const int primary = code_ & 0xff;
        return primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR;
    }

private:
    int code_;
};

// Busy waits this long for another process's lock (the service itself never holds the
// write lock for long) before the request is refused.
constexpr int kBusyTimeoutMs = 5000;

[[noreturn]] void throwSqlite(int code, const std::string& message) {
    const char* cause = nullptr;
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED: cause = "the database is locked by another process"; break;
        case SQLITE_FULL: cause = "the disk is full"; break;
        case SQLITE_READONLY: cause = "the database is read-only"; break;
        case SQLITE_IOERR: cause = "input/output error"; break;
        case SQLITE_CANTOPEN: cause = "the database file cannot be opened"; break;
        default: throw SqliteError(message);
    }
    throw SqliteUnavailable(code, std::string("SQLite: ") + cause + " (" + message + ")");
}

class Database {
public:
    Database(const std::string& path, bool writer) {
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr); rc != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            const int code = db_ ? sqlite3_extended_errcode(db_) : rc;
            sqlite3_close(db_);
            db_ = nullptr;
            throwSqlite(code, "cannot open " + path + ": " + why);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        if (writer) {
            const std::string mode = text("PRAGMA journal_mode=WAL");
            if (mode != "wal") throw SqliteError("cannot switch " + path + " to WAL mode");
            exec("PRAGMA synchronous=FULL");
            exec("PRAGMA cache_size=-65536");  // 64 MiB: index pages stay cached between commits
        } else {
            exec("PRAGMA query_only=1");
        }
    }
    ~Database() { sqlite3_close_v2(db_); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string why = error ? error : sqlite3_errmsg(db_);
            sqlite3_free(error);
            throwSqlite(sqlite3_extended_errcode(db_), why);
        }
    }

    std::string text(const std::string& sql);

    sqlite3* handle() { return db_; }

    [[noreturn]] void fail() { throwSqlite(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_)); }

private:
    sqlite3* db_ = nullptr;
};

// A prepared statement, reset for reuse on every bind.
class Statement {
public:
    Statement(Database& db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v3(db.handle(), sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_,
                               nullptr) != SQLITE_OK) {
            db.fail();
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        next_ = 1;
        return *this;
    }
    Statement& bind(const std::string& value) {
        check(sqlite3_bind_text(stmt_, next_++, value.data(), int(value.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(std::int64_t value) {
        check(sqlite3_bind_int64(stmt_, next_++, value));
        return *this;
    }
    Statement& bind(const std::optional<std::int64_t>& value) {
        if (value) return bind(*value);
        check(sqlite3_bind_null(stmt_, next_++));
        return *this;
    }
    // True while rows come; false when done.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        // Reset at once: a failed statement left as it is would hold its read transaction.
        const int code = sqlite3_extended_errcode(db_.handle());
        const std::string why = sqlite3_errmsg(db_.handle());
        sqlite3_reset(stmt_);
        throwSqlite(code, why);
    }
    std::string columnText(int i) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return p ? std::string(p, std::size_t(sqlite3_column_bytes(stmt_, i))) : std::string();
    }
    std::int64_t columnInt(int i) { return sqlite3_column_int64(stmt_, i); }
    sqlite3_stmt* raw() { return stmt_; }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) db_.fail();
    }
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
    int next_ = 1;
};

std::string Database::text(const std::string& sql) {
    Statement s(*this, sql);
    return s.step() ? s.columnText(0) : std::string();
}

std::string setFiguresSql() {
    std::string sql = "UPDATE results SET checks_version = ?";
    for (const char* c : kFigureColumns) sql += std::string(", ") + c + " = ?";
    return sql + " WHERE id = ?";
}

std::string insertSql() {
    std::string sql = "INSERT INTO results (id, digest, document, received_at, checks_version, "
                      "derived_version, machine, cpu_model, gpu_model";
    for (const char* c : kFigureColumns) sql += std::string(", ") + c;
    sql += ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?";
    for (std::size_t i = 0; i < RankFigures::kCount; ++i) sql += ", ?";
    return sql + ") ON CONFLICT DO NOTHING";
}

// Reading connection with its statements prepared once.
struct Reader {
    explicit Reader(const std::string& path)
        : db(path, false),
          find(db, "SELECT id, document, received_at FROM results WHERE id = ?"),
          recent(db, "SELECT id, document, received_at FROM results "
                     "ORDER BY received_at DESC, id DESC LIMIT ?"),
          count(db, "SELECT count(*) FROM results"),
          checkedBefore(db, "SELECT id, document, received_at FROM results "
                            "WHERE checks_version IS NULL OR checks_version < ? LIMIT ?"),
          derivedBefore(db, "SELECT id, document, received_at FROM results "
                            "WHERE derived_version IS NULL OR derived_version < ? LIMIT ?"),
          ofMachine(db, "SELECT id, document, received_at FROM results WHERE machine = ? "
                        "ORDER BY received_at DESC, id LIMIT ?") {}
    Database db;
    Statement find, recent, count, checkedBefore, derivedBefore, ofMachine;
    Statement fromScore{db, "SELECT id FROM results WHERE cpu_model = ? AND cpu_integer_best >= ? ORDER BY cpu_integer_best LIMIT 1"};
    Statement newest{db, "SELECT id, document, received_at FROM results ORDER BY received_at DESC, id DESC LIMIT ?"};
    Statement older{db, "SELECT id, document, received_at FROM results WHERE (received_at, id) < (?, ?) "
                        "ORDER BY received_at DESC, id DESC LIMIT ?"};
    Statement newer{db, "SELECT id, document, received_at FROM results WHERE (received_at, id) > (?, ?) "
                        "ORDER BY received_at, id LIMIT ?"};
    Statement oldest{db, "SELECT id, document, received_at FROM results ORDER BY received_at, id LIMIT ?"};
    Statement ofCpu{db, "SELECT id, document, received_at FROM results WHERE cpu_model = ? ORDER BY received_at DESC, id LIMIT ?"};
    Statement ofGpu{db, "SELECT id, document, received_at FROM results WHERE gpu_model = ? ORDER BY received_at DESC, id LIMIT ?"};
};

// Pages in the WAL after which the background checkpoint runs. Index pages rewritten
// by many commits are copied once per checkpoint, so fewer checkpoints mean less work.
constexpr int kCheckpointPages = 4000;

class SqliteStore final : public ResultStore {
public:
    explicit SqliteStore(const std::string& path)
        : path_(path),
          checkpointer_(path, true),
          readers_([path] { return std::make_unique<Reader>(path); }) {
        openWriter(false);
        migrate();
        prepareWriter();
        checkpointThread_ = std::thread([this] { checkpointLoop(); });
    }

    ~SqliteStore() override {
        {
            std::lock_guard lock(checkpointMutex_);
            stopping_ = true;
        }
        checkpointWake_.notify_one();
        checkpointThread_.join();
    }

    std::vector<InsertOutcome> insertBatch(const std::vector<NewResult>& results) override {
        return writing([&] { return insertAll(results); });
    }

    std::vector<InsertOutcome> insertAll(const std::vector<NewResult>& results) {
        std::vector<InsertOutcome> ids;
        ids.reserve(results.size());
        writer_->exec("BEGIN IMMEDIATE");
        try {
            for (const NewResult& r : results) ids.push_back(insertOne(r));
            writer_->exec("COMMIT");
        } catch (...) {
            sqlite3_exec(writer_->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        return ids;
    }

    std::optional<StoredResult> find(const std::string& id) override {
        auto reader = readers_.acquire();
        Statement& s = reader->find.reset().bind(id);
        std::optional<StoredResult> found;
        if (s.step()) found = StoredResult{s.columnText(0), s.columnText(1), s.columnInt(2)};
        s.reset();  // ends the read transaction so the WAL can be checkpointed
        return found;
    }

    std::vector<StoredResult> recent(int limit) override {
        auto reader = readers_.acquire();
        Statement& s = reader->recent.reset().bind(std::int64_t(limit));
        std::vector<StoredResult> rows;
        while (s.step()) rows.push_back({s.columnText(0), s.columnText(1), s.columnInt(2)});
        s.reset();
        return rows;
    }

    std::int64_t count() override {
        auto reader = readers_.acquire();
        Statement& s = reader->count.reset();
        const std::int64_t n = s.step() ? s.columnInt(0) : 0;
        s.reset();
        return n;
    }

    std::vector<StoredResult> checkedBefore(std::int64_t version, int limit) override {
        auto reader = readers_.acquire();
        Statement& s = reader->checkedBefore.reset().bind(version).bind(std::int64_t(limit));
        std::vector<StoredResult> rows;
        while (s.step()) rows.push_back({s.columnText(0), s.columnText(1), s.columnInt(2)});
        s.reset();
        return rows;
    }

    std::vector<StoredResult> derivedBefore(std::int64_t version, int limit) override {
        auto reader = readers_.acquire();
        return rowsOf(reader->derivedBefore.reset().bind(version).bind(std::int64_t(limit)));
    }

    std::vector<StoredResult> ofMachine(const std::string& machine, int limit) override {
        auto reader = readers_.acquire();
        return rowsOf(reader->ofMachine.reset().bind(machine).bind(std::int64_t(limit)));
    }

    void setDerived(const std::vector<std::pair<std::string, DerivedColumns>>& rows,
                    std::int64_t version) override {
        writing([&] { updateDerived(rows, version); return 0; });
    }

    void updateDerived(const std::vector<std::pair<std::string, DerivedColumns>>& rows, std::int64_t version) {
        writer_->exec("BEGIN IMMEDIATE");
        try {
            Statement update(*writer_, "UPDATE results SET derived_version = ?, machine = ?, "
                                      "cpu_model = ?, gpu_model = ? WHERE id = ?");
            for (const auto& [id, d] : rows) {
                update.reset().bind(version).bind(d.machine).bind(d.cpuModel).bind(d.gpuModel).bind(id).step();
            }
            update.reset();
            writer_->exec("COMMIT");
        } catch (...) {
            sqlite3_exec(writer_->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    std::vector<StoredResult> recentPage(const std::optional<ResultPosition>& from, bool newer, int limit) override {
        auto reader = readers_.acquire();
        std::vector<StoredResult> rows;
        if (!from) {
            rows = rowsOf((newer ? reader->oldest : reader->newest).reset().bind(std::int64_t(limit)));
        } else {
            rows = rowsOf((newer ? reader->newer : reader->older).reset().bind(from->receivedAtMs).bind(from->id).bind(std::int64_t(limit)));
        }
        if (newer) std::reverse(rows.begin(), rows.end());
        return rows;
    }

    std::vector<StoredResult> ofModel(bool graphics, const std::string& key, int limit) override {
        auto reader = readers_.acquire();
        return rowsOf((graphics ? reader->ofGpu : reader->ofCpu).reset().bind(key).bind(std::int64_t(limit)));
    }

    std::optional<std::string> processorResultFrom(const std::string& key, std::int64_t score) override {
        auto reader = readers_.acquire();
        Statement& s = reader->fromScore.reset().bind(key).bind(score);
        std::optional<std::string> id;
        if (s.step()) id = s.columnText(0);
        s.reset();
        return id;
    }

    std::vector<std::pair<std::string, std::string>> modelSamples(bool graphics) override {
        auto reader = readers_.acquire();
        Statement s(reader->db, graphics ? "SELECT m, (SELECT document FROM results r WHERE r.gpu_model = m LIMIT 1) FROM (SELECT DISTINCT gpu_model AS m FROM results WHERE gpu_model <> '') AS models" : "SELECT m, (SELECT document FROM results r WHERE r.cpu_model = m LIMIT 1) FROM (SELECT DISTINCT cpu_model AS m FROM results WHERE cpu_model <> '') AS models");
        std::vector<std::pair<std::string, std::string>> out;
        while (s.step()) out.emplace_back(s.columnText(0), s.columnText(1));
        return out;
    }

    std::vector<ModelFigures> modelFigures() override {
        auto reader = readers_.acquire();
        std::string sql = "SELECT cpu_model, gpu_model";
        std::string any;
        for (const char* c : kFigureColumns) {
            sql += std::string(", ") + c;
            any += std::string(any.empty() ? "" : " OR ") + c + " IS NOT NULL";
        }
        Statement s(reader->db, sql + " FROM results WHERE " + any);
        std::vector<ModelFigures> out;
        while (s.step()) {
            ModelFigures m{s.columnText(0), s.columnText(1), {}};
            for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
                if (sqlite3_column_type(s.raw(), int(i) + 2) != SQLITE_NULL) m.figures.values[i] = s.columnInt(int(i) + 2);
            }
            out.push_back(std::move(m));
        }
        return out;
    }

    // Read first: a setting stored already needs no write, so a read-only database starts.
    std::string setting(const std::string& name, const std::string& proposed) override {
        return writing([&] {
            Statement read(*writer_, "SELECT value FROM service_settings WHERE name = ?");
            read.bind(name);
            if (read.step()) return read.columnText(0);
            read.reset();
            Statement insert(*writer_, "INSERT INTO service_settings (name, value) VALUES (?, ?) ON CONFLICT DO NOTHING");
            insert.bind(name).bind(proposed).step();
            insert.reset();
            read.reset().bind(name);
            std::string value = read.step() ? read.columnText(0) : proposed;
            read.reset();
            return value;
        });
    }

    void setRankedFigures(const std::vector<std::pair<std::string, RankFigures>>& rows,
                          std::int64_t version) override {
        writing([&] { updateFigures(rows, version); return 0; });
    }

    void updateFigures(const std::vector<std::pair<std::string, RankFigures>>& rows, std::int64_t version) {
        writer_->exec("BEGIN IMMEDIATE");
        try {
            Statement update(*writer_, setFiguresSql());
            for (const auto& [id, figures] : rows) {
                update.reset().bind(version);
                for (const auto& v : figures.values) update.bind(v);
                update.bind(id).step();
            }
            update.reset();
            writer_->exec("COMMIT");
        } catch (...) {
            sqlite3_exec(writer_->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    std::string checkIntegrity() override {
        return writing([&] {
            Statement s(*writer_, "PRAGMA integrity_check");
            std::string report;
            while (s.step()) report += (report.empty() ? "" : "\n") + s.columnText(0);
            return report;
        });
    }

    void checkReachable() override {
        auto reader = readers_.acquire();
        Statement s(reader->db, "SELECT count(*) FROM schema_version");
        s.step();
    }

private:
    // Runs work on the writing connection, opened afresh first if the last one failed in
    // a way a new one may not.
    template <typename Work>
    auto writing(Work&& work) -> decltype(work()) {
        std::lock_guard lock(writeMutex_);
        if (!writer_) openWriter();
        try {
            return work();
        } catch (const SqliteUnavailable& e) {
            if (e.reopen()) closeWriter();
            throw;
        }
    }

    // The statements only once the schema is there.
    void openWriter(bool prepare = true) {
        auto db = std::make_unique<Database>(path_, true);
        sqlite3_wal_autocheckpoint(db->handle(), 0);
        sqlite3_wal_hook(db->handle(), &SqliteStore::walGrew, this);
        writer_ = std::move(db);
        if (prepare) prepareWriter();
    }

    void prepareWriter() {
        try {
            insert_.emplace(*writer_, insertSql());
            byDigest_.emplace(*writer_, "SELECT id FROM results WHERE digest = ?");
        } catch (...) {
            closeWriter();
            throw;
        }
    }

    void closeWriter() {
        insert_.reset();
        byDigest_.reset();
        writer_.reset();
    }

    static std::vector<StoredResult> rowsOf(Statement& s) {
        std::vector<StoredResult> rows;
        while (s.step()) rows.push_back({s.columnText(0), s.columnText(1), s.columnInt(2)});
        s.reset();
        return rows;
    }

    // Runs on the writer after each commit. The background checkpoint copies while
    // commits go on, so under steady load it never finds the WAL fully copied and the WAL
    // would grow without end; once it is twice the threshold the writer finishes the
    // copy itself (little is left by then), and the next commit starts the WAL afresh.
    static int walGrew(void* self, sqlite3* db, const char*, int pages) {
        auto* store = static_cast<SqliteStore*>(self);
        if (pages >= 2 * kCheckpointPages) {
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        } else if (pages >= kCheckpointPages) {
            store->checkpointWake_.notify_one();
        }
        return SQLITE_OK;
    }

    // Copies committed pages from the WAL into the database file, alongside the writer.
    // A passive checkpoint never blocks the writer or the readers; the WAL then starts
    // over from its beginning at a later commit once every frame is copied.
    void checkpointLoop() {
        std::unique_lock lock(checkpointMutex_);
        while (!stopping_) {
            checkpointWake_.wait_for(lock, std::chrono::seconds(1));
            if (stopping_) break;
            lock.unlock();
            int logPages = 0, copied = 0;
            sqlite3_wal_checkpoint_v2(checkpointer_.handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, &logPages, &copied);
            lock.lock();
        }
    }

    InsertOutcome insertOne(const NewResult& r) {
        // A new identifier could, with odds of about one in 10^21, meet an existing one;
        // then the insert is skipped without a digest match and gets another try.
        for (int attempt = 0; attempt < 8; ++attempt) {
            const std::string id = newResultIdentifier();
            insert_->reset().bind(id).bind(r.digest).bind(r.document).bind(r.receivedAtMs).bind(r.checksVersion);
            insert_->bind(r.derivedVersion).bind(r.derived.machine).bind(r.derived.cpuModel).bind(r.derived.gpuModel);
            for (const auto& v : r.figures.values) insert_->bind(v);
            insert_->step();
            const bool inserted = sqlite3_changes(writer_->handle()) > 0;
            insert_->reset();
            if (inserted) return {id, true};
            Statement& s = byDigest_->reset().bind(r.digest);
            std::optional<std::string> existing;
            if (s.step()) existing = s.columnText(0);
            s.reset();
            if (existing) return {*existing, false};
        }
        throw SqliteError("no free identifier found");
    }

    void migrate() {
        std::lock_guard lock(writeMutex_);
        // Read first: a database at the current version needs no write, so a read-only
        // one still serves its pages.
        const std::string latest = std::to_string(schemaSteps().size());
        if (!writer_->text("SELECT name FROM sqlite_master WHERE name = 'schema_version'").empty() &&
            writer_->text("SELECT version FROM schema_version") == latest) {
            return;
        }
        writer_->exec("BEGIN IMMEDIATE");
        try {
            writer_->exec("CREATE TABLE IF NOT EXISTS schema_version (version BIGINT NOT NULL)");
            std::string current = writer_->text("SELECT version FROM schema_version");
            if (current.empty()) {
                writer_->exec("INSERT INTO schema_version (version) VALUES (0)");
                current = "0";
            }
            const auto& steps = schemaSteps();
            const std::size_t version = std::stoul(current);
            if (version > steps.size()) {
                throw SqliteError("the database schema is version " + current +
                                  ", newer than this service knows (" +
                                  std::to_string(steps.size()) + ")");
            }
            for (std::size_t v = version; v < steps.size(); ++v) {
                for (const std::string& sql : steps[v]) writer_->exec(sql);
            }
            writer_->exec("UPDATE schema_version SET version = " + std::to_string(steps.size()));
            writer_->exec("COMMIT");
        } catch (...) {
            sqlite3_exec(writer_->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    std::string path_;
    std::mutex writeMutex_;
    std::unique_ptr<Database> writer_;  // null after a failure that needs a new one
    Database checkpointer_;
    std::optional<Statement> insert_;
    std::optional<Statement> byDigest_;
    ConnectionPool<Reader> readers_;

    std::mutex checkpointMutex_;
    std::condition_variable checkpointWake_;
    bool stopping_ = false;
    std::thread checkpointThread_;
};

// The database holds raw machine identifiers and the key that hides them, so only the
// service's user may read it. SQLite gives the -wal and -shm files it creates the
// database file's mode, so creating that file first suffices for a new database; an
// older database and its files are tightened.
void keepPrivate(const std::string& path) {
    if (path.empty() || path == ":memory:") return;
    // Made here only when missing: an existing file may be one this user can only read,
    // which the store still serves.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno != EEXIST) {
        throw SqliteError("cannot create " + path + ": " + std::strerror(errno));
    }
    // Only the owner may change the mode; a file of another user's is left to them.
    for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0 || (st.st_mode & 077) == 0 || st.st_uid != ::geteuid()) continue;
        if (::chmod(file.c_str(), st.st_mode & 0700) != 0 && errno != EROFS) {
            throw SqliteError("cannot make " + file + " private: " + std::strerror(errno));
        }
    }
}

}  // namespace

std::unique_ptr<ResultStore> openSqliteStore(const std::string& path, std::string* whyNot) {
    try {
        keepPrivate(path);
        return std::make_unique<SqliteStore>(path);
    } catch (const std::exception& e) {
        if (whyNot) *whyNot = e.what();
        return nullptr;
    }
}
