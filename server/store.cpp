#include "server/store.h"

#include <algorithm>

#include "server/database_url.h"

namespace {

// ", cpu_integer_single BIGINT, ..." for the table's ranked figures.
std::string rankFigureColumns() {
    std::string sql;
    for (const char* column : kFigureColumns) sql += std::string(", ") + column + " BIGINT";
    return sql;
}

}  // namespace

const std::vector<std::vector<std::string>>& schemaSteps() {
    static const std::vector<std::vector<std::string>> steps = [] {
        std::vector<std::string> first = {
            "CREATE TABLE results ("
            " id TEXT PRIMARY KEY,"
            " digest TEXT NOT NULL UNIQUE,"
            " document TEXT NOT NULL,"
            " received_at BIGINT NOT NULL" + rankFigureColumns() + ")",
            "CREATE INDEX results_received_at ON results (received_at)"};
        for (const char* column : kFigureColumns) {
            first.push_back(std::string("CREATE INDEX results_") + column + " ON results (" +
                            column + ")");
        }
        // Which version of the result checks set a row's ranked figures; rows stored before
        // the checks existed have none and are checked when the service starts.
        std::vector<std::string> checks = {
            "ALTER TABLE results ADD COLUMN checks_version BIGINT",
            "CREATE INDEX results_checks_version ON results (checks_version)"};
        // What the service derives from each document to group results by: the keyed hash
        // of the machine identifier and the processor and graphics model keys. Rows stored
        // before have none and are filled when the service starts.
        std::vector<std::string> derived = {
            "ALTER TABLE results ADD COLUMN machine TEXT",
            "ALTER TABLE results ADD COLUMN cpu_model TEXT",
            "ALTER TABLE results ADD COLUMN gpu_model TEXT",
            "ALTER TABLE results ADD COLUMN derived_version BIGINT",
            "CREATE INDEX results_machine ON results (machine, received_at)",
            "CREATE INDEX results_cpu_model ON results (cpu_model, received_at)",
            "CREATE INDEX results_gpu_model ON results (gpu_model, received_at)",
            "CREATE INDEX results_cpu_model_best ON results (cpu_model, cpu_integer_best)",
            "CREATE INDEX results_derived_version ON results (derived_version)",
            "CREATE TABLE service_settings (name TEXT PRIMARY KEY, value TEXT NOT NULL)"};
        // The figures' own indexes served only the start-up read of every figure in order,
        // which the service now sorts in memory from the one read of every row it makes
        // anyway; on each insert they cost eight more random index pages.
        std::vector<std::string> unindexed;
        for (const char* column : kFigureColumns) {
            unindexed.push_back(std::string("DROP INDEX IF EXISTS results_") + column);
        }
        // The list of all results pages by seeking along (received_at, id), so the last
        // page costs what the first does; the time alone served an offset scan.
        std::vector<std::string> paged = {"CREATE INDEX IF NOT EXISTS results_received_at_id ON results (received_at, id)",
                                          "DROP INDEX IF EXISTS results_received_at"};
        return std::vector<std::vector<std::string>>{first, checks, derived, unindexed, paged};
    }();
    return steps;
}

std::array<std::vector<std::int64_t>, RankFigures::kCount> sortedFiguresOf(const std::vector<ModelFigures>& rows) {
    std::array<std::vector<std::int64_t>, RankFigures::kCount> columns;
    for (const ModelFigures& row : rows) {
        for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
            if (row.figures.values[i]) columns[i].push_back(*row.figures.values[i]);
        }
    }
    for (auto& column : columns) std::sort(column.begin(), column.end());
    return columns;
}

std::unique_ptr<ResultStore> openResultStore(const std::string& url, std::string* whyNot) {
    if (url.rfind("sqlite:", 0) == 0) return openSqliteStore(url.substr(7), whyNot);
    if (isPostgresAddress(url)) return openPostgresStore(url, whyNot);
    if (whyNot) *whyNot = "unknown database URL '" + url + "'";
    return nullptr;
}
