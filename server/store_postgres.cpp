// PostgreSQL through libpqxx, for deployments that outgrow one machine. Several service
// instances may share one database: inserts rely on the unique digest, and schema
// upgrades take an advisory lock. The database may restart or vanish under a running
// service: connections that lost their link are dropped, and time-outs bound how long
// any request waits for it.

#include <libpq-fe.h>
#include <pqxx/pqxx>

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>

#include "server/connection_pool.h"
#include "server/database_url.h"
#include "server/identifier.h"
#include "server/store.h"

namespace {

constexpr long long kSchemaLockKey = 0x74616c6c79;  // any fixed number shared by instances

// One statement for the whole batch, so a commit costs one round trip for the rows
// however many there are.
std::string insertSql(std::size_t rows) {
    constexpr std::size_t columns = 9 + RankFigures::kCount;
    std::string sql = "INSERT INTO results (id, digest, document, received_at, checks_version, "
                      "derived_version, machine, cpu_model, gpu_model";
    for (const char* c : kFigureColumns) sql += std::string(", ") + c;
    sql += ") VALUES ";
    for (std::size_t r = 0; r < rows; ++r) {
        sql += r ? ", (" : "(";
        for (std::size_t c = 0; c < columns; ++c) {
            sql += (c ? ", $" : "$") + std::to_string(r * columns + c + 1);
            if (c >= 3 && (c <= 5 || c >= 9)) sql += "::bigint";
        }
        sql += ")";
    }
    return sql + " ON CONFLICT DO NOTHING RETURNING id, digest";
}

// Connections out at once per instance; two instances stay well inside PostgreSQL's
// default max_connections of 100.
constexpr std::size_t kMaxConnections = 40;

// What every connection gets unless the address says otherwise: a connection attempt
// gives up after 3 s; a statement after 15 s (nginx stops waiting then); a server that
// vanished without closing the connection (power, network) is noticed within seconds,
// both while sending (tcp_user_timeout) and while waiting for an answer (keepalives).
const std::vector<std::pair<std::string, std::string>> kConnectionDefaults = {
    {"connect_timeout", "3"},      {"options", "-c statement_timeout=15000"},
    {"keepalives", "1"},           {"keepalives_idle", "5"},
    {"keepalives_interval", "2"},  {"keepalives_count", "3"},
    {"tcp_user_timeout", "5000"},
};

// libpq's messages end in a newline and may hold several lines.
std::string tidy(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Whether the failure says the server is out of reach or stopping, rather than that the
// statement was wrong. SQLSTATE classes: 08 connection exception, 57P admin or crash
// shutdown and "cannot connect now" while it starts, 53300 too many connections.
bool serverGone(const std::exception& e) {
    if (dynamic_cast<const pqxx::broken_connection*>(&e) || dynamic_cast<const pqxx::in_doubt_error*>(&e)) return true;
    if (const auto* sql = dynamic_cast<const pqxx::sql_error*>(&e)) {
        const std::string& state = sql->sqlstate();
        return state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0 || state == "53300";
    }
    return false;
}

bool timedOut(const std::exception& e) {
    const auto* sql = dynamic_cast<const pqxx::sql_error*>(&e);
    return sql && (sql->sqlstate() == "57014" || sql->sqlstate() == "55P03");  // canceled, lock not available
}

std::unique_ptr<pqxx::connection> connect(const std::string& url) {
    std::unique_ptr<pqxx::connection> made;
    try {
        made = std::make_unique<pqxx::connection>(url);
    } catch (const pqxx::broken_connection& e) {
        throw StoreUnavailable("cannot connect to PostgreSQL: " + tidy(e.what()));
    }
    auto& c = made;
    c->prepare("find", "SELECT id, document, received_at FROM results WHERE id = $1");
    c->prepare("recent",
               "SELECT id, document, received_at FROM results ORDER BY received_at DESC, id DESC LIMIT $1");
    c->prepare("count", "SELECT count(*) FROM results");
    c->prepare("checked_before",
               "SELECT id, document, received_at FROM results "
               "WHERE checks_version IS NULL OR checks_version < $1 LIMIT $2");
    {
        std::string set = "UPDATE results SET checks_version = $1";
        for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
            set += std::string(", ") + kFigureColumns[i] + " = $" + std::to_string(i + 2) + "::bigint";
        }
        c->prepare("set_figures", set + " WHERE id = $" + std::to_string(RankFigures::kCount + 2));
    }
    c->prepare("derived_before",
               "SELECT id, document, received_at FROM results "
               "WHERE derived_version IS NULL OR derived_version < $1 LIMIT $2");
    c->prepare("of_machine",
               "SELECT id, document, received_at FROM results WHERE machine = $1 "
               "ORDER BY received_at DESC, id LIMIT $2");
    c->prepare("from_score", "SELECT id FROM results WHERE cpu_model = $1 AND cpu_integer_best >= $2::bigint ORDER BY cpu_integer_best LIMIT 1");
    c->prepare("newest", "SELECT id, document, received_at FROM results ORDER BY received_at DESC, id DESC LIMIT $1");
    c->prepare("older", "SELECT id, document, received_at FROM results WHERE (received_at, id) < ($1::bigint, $2) "
                        "ORDER BY received_at DESC, id DESC LIMIT $3");
    c->prepare("newer", "SELECT id, document, received_at FROM results WHERE (received_at, id) > ($1::bigint, $2) "
                        "ORDER BY received_at, id LIMIT $3");
    c->prepare("oldest", "SELECT id, document, received_at FROM results ORDER BY received_at, id LIMIT $1");
    c->prepare("of_cpu", "SELECT id, document, received_at FROM results WHERE cpu_model = $1 ORDER BY received_at DESC, id LIMIT $2");
    c->prepare("of_gpu", "SELECT id, document, received_at FROM results WHERE gpu_model = $1 ORDER BY received_at DESC, id LIMIT $2");
    c->prepare("set_derived",
               "UPDATE results SET derived_version = $1, machine = $2, cpu_model = $3, gpu_model = $4 "
               "WHERE id = $5");
    c->prepare("by_digests", "SELECT digest, id FROM results WHERE digest = ANY($1::text[])");
    return made;
}

// Null stands for a missing figure.
std::vector<const char*> pointers(const std::vector<std::optional<std::string>>& values) {
    std::vector<const char*> out;
    for (const auto& v : values) out.push_back(v ? v->c_str() : nullptr);
    return out;
}

class PostgresStore final : public ResultStore {
public:
    explicit PostgresStore(const std::string& url)
        : address_(url),
          url_(withDefaults(url, kConnectionDefaults)),
          pingUrl_(withDefaults(url, {{"connect_timeout", "2"}})),
          connections_([this] { return connect(url_); }, kMaxConnections, std::chrono::seconds(5),
                       [](pqxx::connection& c) { return c.is_open(); }) {
        migrate();
    }

    std::vector<InsertOutcome> insertBatch(const std::vector<NewResult>& results) override {
        return withConnection([&](pqxx::connection& c) {
            std::vector<InsertOutcome> ids;
            pqxx::work txn(c);
            ids = insertAll(txn, results);
            txn.commit();
            return ids;
        });
    }

    std::optional<StoredResult> find(const std::string& id) override {
        return withConnection([&](pqxx::connection& c) -> std::optional<StoredResult> {
            pqxx::read_transaction txn(c);
            const pqxx::result rows = txn.exec_prepared("find", id);
            if (rows.empty()) return std::nullopt;
            return StoredResult{rows[0][0].as<std::string>(), rows[0][1].as<std::string>(),
                                rows[0][2].as<std::int64_t>()};
        });
    }

    std::vector<StoredResult> recent(int limit) override {
        return withConnection([&](pqxx::connection& c) {
            pqxx::read_transaction txn(c);
            std::vector<StoredResult> out;
            for (const auto& row : txn.exec_prepared("recent", limit)) {
                out.push_back({row[0].as<std::string>(), row[1].as<std::string>(),
                               row[2].as<std::int64_t>()});
            }
            return out;
        });
    }

    std::vector<StoredResult> checkedBefore(std::int64_t version, int limit) override {
        return withConnection([&](pqxx::connection& c) {
            pqxx::read_transaction txn(c);
            std::vector<StoredResult> out;
            for (const auto& row : txn.exec_prepared("checked_before", version, limit)) {
                out.push_back({row[0].as<std::string>(), row[1].as<std::string>(),
                               row[2].as<std::int64_t>()});
            }
            return out;
        });
    }

    void setRankedFigures(const std::vector<std::pair<std::string, RankFigures>>& rows,
                          std::int64_t version) override {
        withConnection([&](pqxx::connection& c) {
            pqxx::work txn(c);
            for (const auto& [id, figures] : rows) {
                std::vector<std::optional<std::string>> values{std::to_string(version)};
                for (const auto& v : figures.values) {
                    values.push_back(v ? std::optional<std::string>(std::to_string(*v)) : std::nullopt);
                }
                values.push_back(id);
                const auto params = pointers(values);
                txn.exec_prepared("set_figures", pqxx::prepare::make_dynamic_params(params));
            }
            txn.commit();
            return 0;
        });
    }

    std::vector<StoredResult> derivedBefore(std::int64_t version, int limit) override {
        return rowsOf("derived_before", version, limit);
    }

    std::vector<StoredResult> ofMachine(const std::string& machine, int limit) override {
        return rowsOf("of_machine", machine, limit);
    }

    void setDerived(const std::vector<std::pair<std::string, DerivedColumns>>& rows,
                    std::int64_t version) override {
        withConnection([&](pqxx::connection& c) {
            pqxx::work txn(c);
            for (const auto& [id, d] : rows) {
                txn.exec_prepared("set_derived", version, d.machine, d.cpuModel, d.gpuModel, id);
            }
            txn.commit();
            return 0;
        });
    }

    std::vector<StoredResult> recentPage(const std::optional<ResultPosition>& from, bool newer, int limit) override {
        std::vector<StoredResult> rows = from ? rowsOf(newer ? "newer" : "older", from->receivedAtMs, from->id, limit)
                                              : rowsOf(newer ? "oldest" : "newest", limit);
        if (newer) std::reverse(rows.begin(), rows.end());
        return rows;
    }

    std::vector<StoredResult> ofModel(bool graphics, const std::string& key, int limit) override {
        return rowsOf(graphics ? "of_gpu" : "of_cpu", key, limit);
    }

    std::optional<std::string> processorResultFrom(const std::string& key, std::int64_t score) override {
        return withConnection([&](pqxx::connection& c) -> std::optional<std::string> {
            pqxx::read_transaction txn(c);
            const pqxx::result rows = txn.exec_prepared("from_score", key, score);
            if (rows.empty()) return std::nullopt;
            return rows[0][0].as<std::string>();
        });
    }

    std::vector<std::pair<std::string, std::string>> modelSamples(bool graphics) override {
        return withConnection([&](pqxx::connection& c) {
            pqxx::read_transaction txn(c);
            std::vector<std::pair<std::string, std::string>> out;
            for (const auto& row : txn.exec(graphics ? "SELECT m, (SELECT document FROM results r WHERE r.gpu_model = m LIMIT 1) FROM (SELECT DISTINCT gpu_model AS m FROM results WHERE gpu_model <> '') AS models" : "SELECT m, (SELECT document FROM results r WHERE r.cpu_model = m LIMIT 1) FROM (SELECT DISTINCT cpu_model AS m FROM results WHERE cpu_model <> '') AS models")) {
                out.emplace_back(row[0].c_str(), row[1].c_str());
            }
            return out;
        });
    }

    std::vector<ModelFigures> modelFigures() override {
        return withConnection([&](pqxx::connection& c) {
            std::string sql = "SELECT cpu_model, gpu_model";
            std::string any;
            for (const char* col : kFigureColumns) {
                sql += std::string(", ") + col;
                any += std::string(any.empty() ? "" : " OR ") + col + " IS NOT NULL";
            }
            pqxx::read_transaction txn(c);
            std::vector<ModelFigures> out;
            for (const auto& row : txn.exec(sql + " FROM results WHERE " + any)) {
                ModelFigures m{row[0].is_null() ? "" : row[0].as<std::string>(),
                               row[1].is_null() ? "" : row[1].as<std::string>(), {}};
                for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
                    if (!row[int(i) + 2].is_null()) m.figures.values[i] = row[int(i) + 2].as<std::int64_t>();
                }
                out.push_back(std::move(m));
            }
            return out;
        });
    }

    std::string setting(const std::string& name, const std::string& proposed) override {
        return withConnection([&](pqxx::connection& c) {
            pqxx::work txn(c);
            txn.exec_params("INSERT INTO service_settings (name, value) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                            name, proposed);
            const std::string value =
                txn.exec_params1("SELECT value FROM service_settings WHERE name = $1", name)[0].as<std::string>();
            txn.commit();
            return value;
        });
    }

    bool sharedWithOtherInstances() const override { return true; }

    std::int64_t count() override {
        return withConnection([&](pqxx::connection& c) {
            pqxx::read_transaction txn(c);
            return txn.exec_prepared("count")[0][0].as<std::int64_t>();
        });
    }

    // First a bare connection attempt, bounded by connect_timeout: a server that accepts
    // TCP connections but answers nothing (stopped, swapping) would hold a query forever,
    // since statement_timeout runs on the server.
    void checkReachable() override {
        switch (PQping(pingUrl_.c_str())) {
            case PQPING_OK: break;
            case PQPING_REJECT: throw StoreUnavailable("PostgreSQL is starting or stopping and refuses connections");
            case PQPING_NO_RESPONSE: throw StoreUnavailable("PostgreSQL does not answer");
            default: throw StoreUnavailable("PostgreSQL cannot be asked: the address is incomplete");
        }
        withConnection([&](pqxx::connection& c) {
            pqxx::read_transaction txn(c);
            txn.exec("SET LOCAL statement_timeout = 1000");
            txn.exec("SELECT 1");
            return 0;
        });
    }

    // The server checks its own pages and WAL; what can go wrong at this level is a
    // unique index that no longer matches the table, so compare the two.
    std::string checkIntegrity() override {
        return withConnection([&](pqxx::connection& c) -> std::string {
            pqxx::read_transaction txn(c);
            const auto row = txn.exec1(
                "SELECT count(*), count(DISTINCT id), count(DISTINCT digest) FROM results");
            const auto rows = row[0].as<std::int64_t>();
            if (row[1].as<std::int64_t>() != rows || row[2].as<std::int64_t>() != rows) {
                return "duplicate identifiers or digests in the results table";
            }
            return "ok";
        });
    }

private:
    template <typename... Args>
    std::vector<StoredResult> rowsOf(const char* statement, Args&&... args) {
        return withConnection([&](pqxx::connection& c) {
            pqxx::read_transaction txn(c);
            std::vector<StoredResult> out;
            for (const auto& row : txn.exec_prepared(statement, args...)) {
                out.push_back({row[0].c_str(), row[1].c_str(), row[2].template as<std::int64_t>()});
            }
            return out;
        });
    }

    std::vector<InsertOutcome> insertAll(pqxx::work& txn, const std::vector<NewResult>& rows) {
        std::vector<InsertOutcome> out(rows.size());
        std::vector<std::size_t> pending(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) pending[i] = i;
        for (int attempt = 0; !pending.empty(); ++attempt) {
            if (attempt == 8) throw std::runtime_error("no free identifier found");
            std::vector<std::optional<std::string>> values;
            std::vector<std::string> ids;
            for (std::size_t i : pending) {
                const NewResult& r = rows[i];
                ids.push_back(newResultIdentifier());
                values.push_back(ids.back());
                values.push_back(r.digest);
                values.push_back(r.document);
                values.push_back(std::to_string(r.receivedAtMs));
                values.push_back(std::to_string(r.checksVersion));
                values.push_back(std::to_string(r.derivedVersion));
                values.push_back(r.derived.machine);
                values.push_back(r.derived.cpuModel);
                values.push_back(r.derived.gpuModel);
                for (const auto& v : r.figures.values) {
                    values.push_back(v ? std::optional<std::string>(std::to_string(*v)) : std::nullopt);
                }
            }
            const auto params = pointers(values);
            std::map<std::string, std::string> added;  // digest -> id
            for (const auto& row : txn.exec_params(insertSql(pending.size()), pqxx::prepare::make_dynamic_params(params))) {
                added[row[1].as<std::string>()] = row[0].as<std::string>();
            }
            // Rows that were skipped: the digest is stored already (perhaps by another
            // instance, whose commit the insert waited for, or earlier in this batch), or,
            // very rarely, the new identifier was taken.
            std::string missing = "{";
            for (std::size_t k = 0; k < pending.size(); ++k) {
                if (!added.count(rows[pending[k]].digest)) missing += (missing.size() > 1 ? "," : "") + rows[pending[k]].digest;
            }
            std::map<std::string, std::string> existing;
            if (missing.size() > 1) {
                for (const auto& row : txn.exec_prepared("by_digests", missing + "}")) {
                    existing[row[0].as<std::string>()] = row[1].as<std::string>();
                }
            }
            std::vector<std::size_t> again;
            for (std::size_t k = 0; k < pending.size(); ++k) {
                const std::size_t i = pending[k];
                if (const auto a = added.find(rows[i].digest); a != added.end()) {
                    out[i] = {a->second, a->second == ids[k]};  // a repeat within the batch gets the first's id
                } else if (const auto e = existing.find(rows[i].digest); e != existing.end()) {
                    out[i] = {e->second, false};
                } else {
                    again.push_back(i);
                }
            }
            pending = std::move(again);
        }
        return out;
    }

    // Runs work on a pooled connection. One whose link failed is dropped, with the idle
    // ones (a restarted server broke them all), and the work is tried once more on a new
    // connection: every statement here may run twice (reads; updates that set values; the
    // insert, whose unique digest makes a second run find the first one's row). What still
    // fails for want of the server is StoreUnavailable.
    template <typename Work>
    auto withConnection(Work&& work) -> decltype(work(std::declval<pqxx::connection&>())) {
        for (int attempt = 0;; ++attempt) {
            auto lease = connections_.acquire();
            try {
                return work(*lease);
            } catch (const std::exception& e) {
                if (timedOut(e)) throw StoreUnavailable("PostgreSQL statement timed out: " + tidy(e.what()));
                if (!serverGone(e) && lease->is_open()) throw;
                lease.discard();
                connections_.discardIdle();
                if (attempt > 0) throw StoreUnavailable("lost the connection to PostgreSQL: " + tidy(e.what()));
            }
        }
    }

    void migrate() {
        // A bare connection: the pooled ones prepare statements on columns that the
        // upgrade may be about to add. No statement time-out: an upgrade may take long.
        std::unique_ptr<pqxx::connection> bare;
        try {
            auto defaults = kConnectionDefaults;
            defaults.erase(defaults.begin() + 1);  // the statement time-out
            bare = std::make_unique<pqxx::connection>(withDefaults(address_, defaults));
        } catch (const pqxx::broken_connection& e) {
            throw StoreUnavailable("cannot connect to PostgreSQL: " + tidy(e.what()));
        }
        pqxx::connection& c = *bare;
        pqxx::work txn(c);
        txn.exec_params("SELECT pg_advisory_xact_lock($1)", kSchemaLockKey);
        txn.exec("CREATE TABLE IF NOT EXISTS schema_version (version BIGINT NOT NULL)");
        const pqxx::result row = txn.exec("SELECT version FROM schema_version");
        std::size_t version = 0;
        if (row.empty()) {
            txn.exec("INSERT INTO schema_version (version) VALUES (0)");
        } else {
            version = row[0][0].as<std::size_t>();
        }
        const auto& steps = schemaSteps();
        if (version > steps.size()) {
            throw std::runtime_error("the database schema is version " + std::to_string(version) +
                                     ", newer than this service knows (" +
                                     std::to_string(steps.size()) + ")");
        }
        for (std::size_t v = version; v < steps.size(); ++v) {
            for (const std::string& sql : steps[v]) txn.exec(sql);
        }
        txn.exec("UPDATE schema_version SET version = " + std::to_string(steps.size()));
        txn.commit();
    }

    std::string address_;  // as given
    std::string url_;      // with the time-outs
    std::string pingUrl_;
    ConnectionPool<pqxx::connection> connections_;
};

}  // namespace

std::unique_ptr<ResultStore> openPostgresStore(const std::string& url, std::string* whyNot) {
    try {
        return std::make_unique<PostgresStore>(url);
    } catch (const std::exception& e) {
        if (whyNot) {
            *whyNot = e.what();
            while (!whyNot->empty() && (whyNot->back() == '\n' || whyNot->back() == ' ')) {
                whyNot->pop_back();
            }
        }
        return nullptr;
    }
}
