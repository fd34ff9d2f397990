#pragma once
// Where a result stands among all stored results, answered from memory: for each ranked
// figure a sorted array of every stored value plus a small unsorted tail of recent ones,
// merged in when it grows. A page then costs a few binary searches instead of counting
// index entries in the database, which grows with every result stored.

#include <array>
#include <cstdint>
#include <shared_mutex>
#include <vector>

#include "server/store.h"

class RankIndex {
public:
    using Columns = std::array<std::vector<std::int64_t>, RankFigures::kCount>;

    // Replaces the contents; each column must be sorted ascending.
    void reset(Columns sorted);
    void add(const RankFigures& figures);
    Standing standing(const RankFigures& figures) const;

private:
    static constexpr std::size_t kTailLimit = 1024;
    mutable std::shared_mutex mutex_;
    Columns sorted_;
    Columns tail_;
};
