#include "report/result_document.h"

#include "assets/assets.h"

nlohmann::json buildResultDocument(const SystemInventory& inventory) {
    return buildResultDocument(inventory, digestSalt, digestSaltSize);
}

std::string computeResultDigest(const SystemInventory& inventory) {
    return computeResultDigest(inventory, digestSalt, digestSaltSize);
}
