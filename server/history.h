#pragma once
// A machine's own results without publishing which machine it is. The document's machine
// identifier ("windows_uuid") names a person's computer: the service keeps the document
// exactly as sent, so that its digest still verifies, but answers and pages leave the
// identifier out, and results of one machine are found by a keyed hash of it. The key is
// made once, at random, and kept in the database's settings, so that every instance on a
// shared database groups alike and nobody without the database can test a guessed
// identifier against the hashes.

#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"
#include "server/page_model.h"
#include "server/store.h"

// Raised when the derivation changes; older rows are derived again when the service starts.
inline constexpr std::int64_t kDerivedVersion = 1;

// The service's key for machine hashes (hex), made and stored on first use.
std::string loadMachineKey(ResultStore& store);

// The keyed hash of a machine identifier: 32 hex digits; empty for an empty identifier.
std::string machineHash(const std::string& key, const std::string& identifier);

DerivedColumns derivedColumnsOf(const SystemInventory& inventory, const std::string& key);

// Sets the derived columns of every result stored before them or under an older
// derivation. Returns how many results it went through. Throws what the store throws.
std::size_t deriveStoredResults(ResultStore& store, const std::string& key);

// The stored document as the public sees it: the machine identifier left out, the rest
// in the order it was sent. Empty when the stored text does not parse.
std::string publicDocument(const std::string& stored);

// The earlier runs of the machine that produced a result, newest first, without it.
std::vector<HistoryEntry> machineHistory(ResultStore& store, const std::string& key,
                                         const SystemInventory& inventory, const std::string& selfId);
