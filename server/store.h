#pragma once
// Where results live. SQLite and PostgreSQL sit behind this one interface and share one
// schema: the document as sent, its digest (unique), the time received and the figures
// the pages rank by, each indexed. A result that the service's checks flag has no ranked
// figures; each row says by which version of the checks its figures were set.
//
// Methods may be called from many threads at once; each implementation keeps a pool of
// connections. Failures of the database are thrown as std::exception; those that end
// once the database is back (no connection, a time-out, a lock held elsewhere, a full
// disk, a read-only or missing file) as StoreUnavailable.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "server/submission.h"

// The database cannot serve now; the same request may succeed later. A write that ends
// with it did not happen, or, when the answer to its commit was lost, happened once: the
// results' unique digest lets a retry find it.
class StoreUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the service derives from a document to find it by: the keyed hash of its machine
// identifier (never the identifier itself) and the model keys its standings group by.
// Empty where the document lacks the part.
struct DerivedColumns {
    std::string machine;
    std::string cpuModel;
    std::string gpuModel;    // graphics model and resolution: scenes compare at one size
};

// The ranked figures of one result with the models they count for.
struct ModelFigures {
    std::string cpuModel;
    std::string gpuModel;
    RankFigures figures;
};

// Each figure's values over the rows, ascending.
std::array<std::vector<std::int64_t>, RankFigures::kCount> sortedFiguresOf(const std::vector<ModelFigures>& rows);

struct NewResult {
    std::string digest;
    std::string document;  // exactly as sent
    std::int64_t receivedAtMs = 0;
    RankFigures figures;     // ranked figures: none for a flagged result
    std::int64_t checksVersion = 0;
    DerivedColumns derived;
    std::int64_t derivedVersion = 0;  // 0: derived is filled in when the service starts
};

struct StoredResult {
    std::string id;
    std::string document;
    std::int64_t receivedAtMs = 0;
};

// For each rank figure: how many stored results have it, and how many of them are below
// the given value.
struct Standing {
    std::array<std::int64_t, RankFigures::kCount> below{};
    std::array<std::int64_t, RankFigures::kCount> total{};
};

// A place in the list of all results, newest first: ties of the time are broken by the
// identifier, so every result has its own place.
struct ResultPosition {
    std::int64_t receivedAtMs = 0;
    std::string id;
};

struct InsertOutcome {
    std::string id;
    bool added = false;  // false: the digest was stored already, id is the earlier one
};

class ResultStore {
public:
    virtual ~ResultStore() = default;

    // Stores the results in one transaction and returns, in the same order, each one's
    // identifier: a new one, or the one already stored under the same digest (also when
    // the earlier copy is in this same batch). Nothing is stored if it throws.
    virtual std::vector<InsertOutcome> insertBatch(const std::vector<NewResult>& results) = 0;

    virtual std::optional<StoredResult> find(const std::string& id) = 0;
    virtual std::vector<StoredResult> recent(int limit) = 0;
    virtual std::int64_t count() = 0;

    // Up to `limit` results whose ranked figures were set by checks older than `version`
    // (or by none: stored before the checks existed).
    virtual std::vector<StoredResult> checkedBefore(std::int64_t version, int limit) = 0;
    // Sets the ranked figures of stored results, found by identifier, and the checks
    // version they come from, in one transaction.
    virtual void setRankedFigures(const std::vector<std::pair<std::string, RankFigures>>& rows,
                                  std::int64_t version) = 0;

    // Up to `limit` results whose derived columns were set by an older version of the
    // derivation (or by none), and the setter of those columns, as for the ranked figures.
    virtual std::vector<StoredResult> derivedBefore(std::int64_t version, int limit) = 0;
    virtual void setDerived(const std::vector<std::pair<std::string, DerivedColumns>>& rows,
                            std::int64_t version) = 0;

    // The latest `limit` results of a machine (by its keyed hash), newest first.
    virtual std::vector<StoredResult> ofMachine(const std::string& machine, int limit) = 0;
    // Up to `limit` results beside `from` in the list of all results (newest first, then
    // by identifier, descending): the ones after it, or with `newer` the ones before it.
    // Without `from`: the newest, or with `newer` the oldest. Returned in list order. Each
    // is a seek along the index of (received_at, id), so every page costs the same.
    virtual std::vector<StoredResult> recentPage(const std::optional<ResultPosition>& from, bool newer, int limit) = 0;
    // The latest `limit` results of a processor (graphics false) or graphics model key.
    virtual std::vector<StoredResult> ofModel(bool graphics, const std::string& key, int limit) = 0;
    // The identifier of the processor model's ranked result whose best all-threads integer
    // score is the lowest at or above `score` (along an index of both).
    virtual std::optional<std::string> processorResultFrom(const std::string& key, std::int64_t score) = 0;
    // Every processor or graphics model key with the document of one of its results.
    virtual std::vector<std::pair<std::string, std::string>> modelSamples(bool graphics) = 0;
    // The models and ranked figures of every result that has any ranked figure.
    virtual std::vector<ModelFigures> modelFigures() = 0;
    // Every stored value of each rank figure, ascending.
    std::array<std::vector<std::int64_t>, RankFigures::kCount> sortedFigures() { return sortedFiguresOf(modelFigures()); }

    // A setting of the service kept in its database: the stored value, or `proposed`
    // stored and returned when there is none yet (the first of several instances wins).
    virtual std::string setting(const std::string& name, const std::string& proposed) = 0;

    // True where other service instances may write to the same database, so that what
    // one instance remembers about the stored results goes stale.
    virtual bool sharedWithOtherInstances() const { return false; }

    // Throws StoreUnavailable unless the database answers a trivial query within about a
    // second or two.
    virtual void checkReachable() = 0;

    // "ok", or what the database's own consistency check found.
    virtual std::string checkIntegrity() = 0;
};

// Opens sqlite:PATH or postgresql://... and creates or upgrades the schema. On failure
// returns null and says why.
std::unique_ptr<ResultStore> openResultStore(const std::string& url, std::string* whyNot);

std::unique_ptr<ResultStore> openSqliteStore(const std::string& path, std::string* whyNot);
std::unique_ptr<ResultStore> openPostgresStore(const std::string& url, std::string* whyNot);

// The schema, as steps from an empty database; a database at version N gets the steps
// after N. The statements are valid in both SQLite and PostgreSQL.
const std::vector<std::vector<std::string>>& schemaSteps();
