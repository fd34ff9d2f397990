#pragma once
// The signed JSON result document: built by the client, parsed and re-signed by the
// result service. The salt is passed in explicitly because the two sides hold it
// differently (embedded in the client, read from a file by the service).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/records.h"
#include "core/text.h"  // sanitizeUtf8, which the document applies to every text

inline constexpr std::uint64_t kDocumentVersion = 3;

// One object per record; a list of records becomes an array of these objects.
nlohmann::json toJson(const CpuTestResult& result);
nlohmann::json toJson(const GpuTestResult& result);
nlohmann::json toJson(const StageResults& results);  // the "score" object
nlohmann::json toJson(const ProcessorInfo& processor);
nlohmann::json toJson(const ComputerSystemInfo& computerSystem);
nlohmann::json toJson(const VideoControllerInfo& controller);
nlohmann::json toJson(const GlGpuInfo& glGpu);
nlohmann::json toJson(std::int32_t width, std::int32_t height);  // the "resolution" object
// The document's members that describe the machine and its scores, without "version" and
// "uuid"; the texts are taken as they are (buildResultDocument sanitises them first).
nlohmann::json toJson(const SystemInventory& inventory);

// The text the digest is taken over: the inventory's values in a fixed order, followed
// by the Base64 text of the salt. Exposed so that its exact bytes can be checked.
std::string buildSignatureText(const SystemInventory& inventory, const unsigned char* salt,
                               std::size_t saltSize);

// MD5 of the signature text as 32 lowercase hexadecimal digits.
std::string computeResultDigest(const SystemInventory& inventory, const unsigned char* salt,
                                std::size_t saltSize);

// The complete ten-member document, "uuid" included. The OpenGL strings are passed
// through sanitizeUtf8 for both the document and the signature text, so the two agree
// and dump() never throws on driver text.
nlohmann::json buildResultDocument(const SystemInventory& inventory, const unsigned char* salt,
                                   std::size_t saltSize);

struct ParsedDocument {
    SystemInventory inventory;
    std::string uuid;  // as sent; the caller re-computes and compares it
};

// The strict reverse of buildResultDocument: exactly the ten members, every nested object
// exactly its members, exact JSON types (unsigned or signed integers, range-checked for the
// 32-bit fields), "version" equal to kDocumentVersion and "uuid" 32 lowercase hexadecimal
// digits. Strings must be valid UTF-8. On refusal returns nothing and, if whyNot is given,
// stores a short sentence naming the first fault.
std::optional<ParsedDocument> parseResultDocument(const nlohmann::json& document,
                                                  std::string* whyNot = nullptr);
