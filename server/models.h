#pragma once
// Processor and graphics models: the names results report, reduced to one key per model
// so that "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz" and "Intel Core i7-8700" meet, and
// the standings of each model served from memory.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "core/records.h"
#include "server/store.h"

// The name as a person reads it: marks, clock and driver suffixes taken off.
std::string processorModelName(const std::string& reported);
std::string graphicsModelName(const std::string& renderer);
// The name folded into a key for addresses: lower case, runs of other characters "-".
std::string modelKey(const std::string& name);

// The processor key, and the graphics key with the resolution ("...@2560x1440"), since
// frame rates only compare at one size. Empty where the document lacks the part.
std::string processorKeyOf(const SystemInventory& inventory);
std::string graphicsKeyOf(const SystemInventory& inventory);

// Where a figure stands among the results of one model.
struct ModelStanding {
    std::int64_t total = 0;   // results of the model with this figure (this one included)
    std::int64_t below = 0;   // how many of them are below this one
    std::int64_t p25 = 0, median = 0, p75 = 0;
};

inline constexpr std::int64_t kMinimumForVerdict = 5;

// "as expected", "below what this model usually reaches", "above"; empty with fewer than
// kMinimumForVerdict results.
std::string modelVerdict(std::int64_t value, const ModelStanding& s);

struct ModelSummary {
    std::string key, name;
    std::string resolution;    // graphics only: "2560x1440"
    std::int64_t results = 0;  // ranked results of the model
    std::array<std::optional<std::int64_t>, RankFigures::kCount> medians;
};

class ModelIndex {
public:
    // The name shown for a key; the first one given stays. Kept only for a key that has
    // ranked results already (add or reset first).
    void setName(const std::string& key, const std::string& name);
    std::string nameOf(const std::string& key) const;
    // Every processor (graphics false) or graphics model with ranked results, by name.
    std::vector<ModelSummary> summaries(bool graphics) const;
    std::optional<ModelSummary> summary(const std::string& key) const;
    // The model's values of one figure, ascending.
    std::vector<std::int64_t> values(const std::string& key, std::size_t figure) const;

    // Replaces the contents with the figures of every ranked result.
    void reset(const std::vector<ModelFigures>& rows);
    void add(const ModelFigures& row);
    // The standing of a value among the results of a model; total 0 when it has none.
    // `counted` says the value is itself among them; otherwise it is counted in.
    ModelStanding standing(const std::string& model, std::size_t figure, std::int64_t value, bool counted) const;

private:
    using Columns = std::array<std::vector<std::int64_t>, RankFigures::kCount>;
    static void insertSorted(Columns& columns, const RankFigures& f, std::size_t from, std::size_t to);
    mutable std::shared_mutex mutex_;
    ModelSummary summaryOf(const std::string& key, const Columns& columns) const;
    std::map<std::string, Columns> models_;
    std::map<std::string, std::string> names_;
};
