#include "server/rank_index.h"

#include <algorithm>
#include <mutex>

void RankIndex::reset(Columns sorted) {
    std::unique_lock lock(mutex_);
    sorted_ = std::move(sorted);
    for (auto& tail : tail_) tail.clear();
}

void RankIndex::add(const RankFigures& figures) {
    std::unique_lock lock(mutex_);
    for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
        if (!figures.values[i]) continue;
        auto& tail = tail_[i];
        tail.push_back(*figures.values[i]);
        if (tail.size() >= kTailLimit) {
            auto& sorted = sorted_[i];
            std::sort(tail.begin(), tail.end());
            const auto middle = sorted.insert(sorted.end(), tail.begin(), tail.end());
            std::inplace_merge(sorted.begin(), middle, sorted.end());
            tail.clear();
        }
    }
}

Standing RankIndex::standing(const RankFigures& figures) const {
    std::shared_lock lock(mutex_);
    Standing s;
    for (std::size_t i = 0; i < RankFigures::kCount; ++i) {
        const auto& sorted = sorted_[i];
        const auto& tail = tail_[i];
        s.total[i] = std::int64_t(sorted.size() + tail.size());
        if (!figures.values[i]) continue;
        const std::int64_t v = *figures.values[i];
        s.below[i] = std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin() +
                     std::count_if(tail.begin(), tail.end(), [v](std::int64_t t) { return t < v; });
    }
    return s;
}
