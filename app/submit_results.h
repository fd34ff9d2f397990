#pragma once
#include "core/records.h"
#include "report/https_client.h"

// Describes the machine, posts the signed result document to the result service and
// opens the stored result's page. Returns only on success; every failure ends the
// process through fatalError with exit code 1. Needs the current OpenGL context.
void submitResults(const StageResults& results);

// Posts the document for the inventory, then opens the result page and returns, or ends
// the process through fatalError.
void submitInventory(const SystemInventory& inventory, const HttpsClient& client);
