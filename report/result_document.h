#pragma once
// The client's side of the result document: signed with the salt compiled into the program.

#include <string>

#include <nlohmann/json.hpp>

#include "core/document.h"

nlohmann::json buildResultDocument(const SystemInventory& inventory);
std::string computeResultDigest(const SystemInventory& inventory);
