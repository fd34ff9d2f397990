#include "server/history.h"

#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "core/document.h"
#include "server/models.h"

namespace {

constexpr int kDeriveBatch = 500;
constexpr const char* kKeySetting = "machine_hash_key";

std::string hex(const unsigned char* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

}  // namespace

std::string loadMachineKey(ResultStore& store) {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes for the machine key");
    const std::string key = store.setting(kKeySetting, hex(bytes, sizeof bytes));
    if (key.size() != 64) throw std::runtime_error("the stored machine key is not 64 hex digits");
    return key;
}

std::string machineHash(const std::string& key, const std::string& identifier) {
    if (identifier.empty()) return {};
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    // Upper case as the clients send it; a lower-case copy is the same machine.
    std::string folded = identifier;
    for (char& c : folded) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (!HMAC(EVP_sha256(), key.data(), int(key.size()), reinterpret_cast<const unsigned char*>(folded.data()),
              folded.size(), mac, &size)) {
        throw std::runtime_error("HMAC-SHA256 failed");
    }
    return hex(mac, 16);
}

DerivedColumns derivedColumnsOf(const SystemInventory& inventory, const std::string& key) {
    return {machineHash(key, inventory.windows_uuid), processorKeyOf(inventory), graphicsKeyOf(inventory)};
}

std::size_t deriveStoredResults(ResultStore& store, const std::string& key) {
    std::size_t done = 0;
    for (;;) {
        const std::vector<StoredResult> batch = store.derivedBefore(kDerivedVersion, kDeriveBatch);
        if (batch.empty()) return done;
        std::vector<std::pair<std::string, DerivedColumns>> rows;
        for (const StoredResult& stored : batch) {
            const auto json = nlohmann::json::parse(stored.document, nullptr, false);
            const auto parsed = json.is_discarded() ? std::nullopt : parseResultDocument(json);
            rows.emplace_back(stored.id, parsed ? derivedColumnsOf(parsed->inventory, key) : DerivedColumns{});
        }
        store.setDerived(rows, kDerivedVersion);
        done += rows.size();
    }
}

std::string publicDocument(const std::string& stored) {
    auto json = nlohmann::ordered_json::parse(stored, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return {};
    json.erase("windows_uuid");
    return json.dump();
}

std::vector<HistoryEntry> machineHistory(ResultStore& store, const std::string& key,
                                         const SystemInventory& inventory, const std::string& selfId) {
    constexpr int kShown = 20;
    std::vector<HistoryEntry> out;
    const std::string machine = machineHash(key, inventory.windows_uuid);
    if (machine.empty()) return out;
    for (const StoredResult& stored : store.ofMachine(machine, kShown + 1)) {
        if (stored.id == selfId || out.size() == std::size_t(kShown)) continue;
        const auto json = nlohmann::json::parse(stored.document, nullptr, false);
        const auto parsed = json.is_discarded() ? std::nullopt : parseResultDocument(json);
        if (!parsed) continue;
        out.push_back({stored.id, stored.receivedAtMs, rankFiguresOf(parsed->inventory.score)});
    }
    return out;
}
