#include "server/models.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>

#include "core/protocol.h"

namespace {

std::string collapseSpaces(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool space = std::isspace(static_cast<unsigned char>(c));
        if (space) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

void eraseAll(std::string& text, const std::string& what) {
    for (std::size_t at; (at = text.find(what)) != std::string::npos;) text.erase(at, what.size());
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Trademark marks in their spellings: "(R)", "(r)", "(TM)", "(tm)", "®", "™".
std::string withoutMarks(std::string text) {
    for (const char* mark : {"(R)", "(r)", "(TM)", "(tm)", "(Tm)", "\xC2\xAE", "\xE2\x84\xA2"}) eraseAll(text, mark);
    return text;
}

}  // namespace

std::string processorModelName(const std::string& reported) {
    std::string name = collapseSpaces(withoutMarks(reported));
    // "... CPU @ 3.60GHz", "... @ 2.4GHz": the nominal clock is part of the reported name,
    // not of the model.
    if (const auto at = name.find(" @ "); at != std::string::npos) name.erase(at);
    // "AMD Ryzen 7 7800X3D 8-Core Processor", "... with Radeon Graphics", "... CPU".
    for (bool changed = true; changed;) {
        changed = false;
        const std::string folded = lower(name);
        for (const char* tail : {" with radeon graphics", " with radeon vega graphics", " processor", " cpu"}) {
            if (endsWith(folded, tail)) {
                name.erase(name.size() - std::string(tail).size());
                changed = true;
                break;
            }
        }
        const auto space = name.rfind(' ');
        if (!changed && space != std::string::npos && endsWith(folded, "-core") &&
            std::isdigit(static_cast<unsigned char>(name[space + 1]))) {
            name.erase(space);
            changed = true;
        }
    }
    return collapseSpaces(name);
}

std::string graphicsModelName(const std::string& renderer) {
    std::string name = withoutMarks(renderer);
    // "NVIDIA GeForce RTX 4070/PCIe/SSE2": the bus and instruction set of the driver.
    if (const auto slash = name.find('/'); slash != std::string::npos) name.erase(slash);
    name = collapseSpaces(name);
    // "AMD Radeon RX 6800 XT (radeonsi, navi21, LLVM 15.0.6, DRM 3.49, 6.1.0-18-amd64)",
    // "llvmpipe (LLVM 15.0.6, 256 bits)": the driver's details in a trailing bracket.
    while (!name.empty() && name.back() == ')') {
        const auto open = name.rfind(" (");
        if (open == std::string::npos) break;
        name.erase(open);
    }
    return collapseSpaces(name);
}

std::string modelKey(const std::string& name) {
    std::string key;
    for (unsigned char c : name) {
        if (std::isalnum(c)) {
            key += char(std::tolower(c));
        } else if (!key.empty() && key.back() != '-') {
            key += '-';
        }
    }
    while (!key.empty() && key.back() == '-') key.pop_back();
    return key;
}

std::string processorKeyOf(const SystemInventory& inventory) {
    return modelKey(processorModelName(inventory.processor.name));
}

std::string graphicsKeyOf(const SystemInventory& inventory) {
    const std::string model = modelKey(graphicsModelName(inventory.gl_gpu.renderer));
    if (model.empty()) return {};
    return model + "@" + std::to_string(inventory.width) + "x" + std::to_string(inventory.height);
}

std::string modelVerdict(std::int64_t value, const ModelStanding& s) {
    if (s.total < kMinimumForVerdict) return {};
    if (value < s.p25) return "below what this model usually reaches";
    if (value > s.p75) return "above";
    return "as expected";
}

void ModelIndex::insertSorted(Columns& columns, const RankFigures& f, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (!f.values[i]) continue;
        auto& c = columns[i];
        c.insert(std::upper_bound(c.begin(), c.end(), *f.values[i]), *f.values[i]);
    }
}

void ModelIndex::reset(const std::vector<ModelFigures>& rows) {
    std::map<std::string, Columns> models;
    for (const ModelFigures& r : rows) {
        for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
            if (!r.figures.values[i]) continue;
            const std::string& model = isProcessorFigure(i) ? r.cpuModel : r.gpuModel;
            if (!model.empty()) models[model][i].push_back(*r.figures.values[i]);
        }
    }
    for (auto& [name, columns] : models) {
        for (auto& c : columns) std::sort(c.begin(), c.end());
    }
    std::unique_lock lock(mutex_);
    models_ = std::move(models);
    for (auto it = names_.begin(); it != names_.end();) {
        it = models_.count(it->first) ? std::next(it) : names_.erase(it);
    }
}

void ModelIndex::add(const ModelFigures& row) {
    std::unique_lock lock(mutex_);
    if (!row.cpuModel.empty()) insertSorted(models_[row.cpuModel], row.figures, 0, 4);
    if (!row.gpuModel.empty()) insertSorted(models_[row.gpuModel], row.figures, 4, RankFigures::kCount);
}

ModelStanding ModelIndex::standing(const std::string& model, std::size_t figure, std::int64_t value,
                                   bool counted) const {
    std::shared_lock lock(mutex_);
    ModelStanding s;
    const auto found = models_.find(model);
    if (found == models_.end() && counted) return s;
    static const std::vector<std::int64_t> none;
    const std::vector<std::int64_t>& v = found == models_.end() ? none : found->second[figure];
    // A value not among them is counted in where it would be inserted.
    const std::size_t n = v.size() + (counted ? 0 : 1);
    const std::size_t pos = std::size_t(std::upper_bound(v.begin(), v.end(), value) - v.begin());
    s.total = std::int64_t(n);
    if (n == 0) return s;
    s.below = std::lower_bound(v.begin(), v.end(), value) - v.begin();
    // Nearest-rank percentiles.
    const auto at = [&](double q) {
        std::size_t k = std::size_t(std::ceil(q * double(n)));
        k = k == 0 ? 0 : k - 1;
        if (counted || k < pos) return v[k];
        return k == pos ? value : v[k - 1];
    };
    s.p25 = at(0.25);
    s.median = at(0.5);
    s.p75 = at(0.75);
    return s;
}

void ModelIndex::setName(const std::string& key, const std::string& name) {
    if (key.empty()) return;
    std::unique_lock lock(mutex_);
    // Only models with ranked results are shown: a name nobody can see is not kept, so
    // refused, flagged or repeated documents cannot grow the table.
    if (models_.count(key)) names_.emplace(key, name);
}

std::string ModelIndex::nameOf(const std::string& key) const {
    std::shared_lock lock(mutex_);
    const auto found = names_.find(key);
    return found == names_.end() ? key : found->second;
}

ModelSummary ModelIndex::summaryOf(const std::string& key, const Columns& columns) const {
    ModelSummary m;
    m.key = key;
    const auto name = names_.find(key);
    m.name = name == names_.end() ? key : name->second;
    if (const auto at = key.find('@'); at != std::string::npos) m.resolution = key.substr(at + 1);
    for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
        const auto& c = columns[i];
        m.results = std::max(m.results, std::int64_t(c.size()));
        if (!c.empty()) m.medians[i] = c[(c.size() - 1) / 2];
    }
    return m;
}

std::vector<ModelSummary> ModelIndex::summaries(bool graphics) const {
    std::shared_lock lock(mutex_);
    std::vector<ModelSummary> out;
    for (const auto& [key, columns] : models_) {
        if ((key.find('@') != std::string::npos) == graphics) out.push_back(summaryOf(key, columns));
    }
    return out;
}

std::optional<ModelSummary> ModelIndex::summary(const std::string& key) const {
    std::shared_lock lock(mutex_);
    const auto found = models_.find(key);
    if (found == models_.end()) return std::nullopt;
    return summaryOf(key, found->second);
}

std::vector<std::int64_t> ModelIndex::values(const std::string& key, std::size_t figure) const {
    std::shared_lock lock(mutex_);
    const auto found = models_.find(key);
    return found == models_.end() ? std::vector<std::int64_t>{} : found->second[figure];
}
