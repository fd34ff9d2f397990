#pragma once
// The routes of browsing: /processors, /graphics, a model's page, /benchmarks page by
// page, /search and /compare. Lists answer ?format=json and ?format=csv as well.

#include <atomic>
#include <cstdint>
#include <string>

#include "core/records.h"
#include "server/models.h"
#include "server/store.h"

namespace httplib {
class Server;
}

// `storedCount` is how many results the store holds, kept by the service so that no page
// counts every row.
void installBrowseRoutes(httplib::Server& server, ResultStore& store, ModelIndex& models,
                         const std::atomic<std::int64_t>& storedCount);

// The names the model pages show, for the models of stored results and of a new one.
void loadModelNames(ResultStore& store, ModelIndex& models);
void addModelNames(const SystemInventory& inventory, ModelIndex& models);
