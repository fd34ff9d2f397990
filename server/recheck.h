#pragma once
// The link between the checks and the standings: a flagged result keeps its page but
// lends no figures to the standings of others.

#include <cstddef>

#include "core/records.h"
#include "server/store.h"
#include "server/submission.h"

// The figures a result counts with in the standings of others: none when a check flags it.
RankFigures rankedFiguresOf(const SystemInventory& inventory);

// Sets the ranked figures of every result stored under older checks (or before there
// were any), so that the standings read from the store leave flagged results out.
// Returns how many results it went through. Throws what the store throws.
std::size_t recheckStoredResults(ResultStore& store);
