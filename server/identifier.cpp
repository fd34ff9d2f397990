#include "server/identifier.h"

#include <stdexcept>

#include <openssl/rand.h>

namespace {
constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr unsigned kAlphabetSize = sizeof kAlphabet - 1;  // 62
// Bytes at or above 248 (= 4 x 62) are thrown away so that every character is equally likely.
constexpr unsigned kAcceptBelow = 256 - 256 % kAlphabetSize;
}  // namespace

std::string newResultIdentifier() {
    std::string id;
    id.reserve(kIdentifierLength);
    unsigned char buffer[32];
    while (id.size() < kIdentifierLength) {
        if (RAND_bytes(buffer, sizeof buffer) != 1) {
            throw std::runtime_error("the random generator failed");
        }
        for (unsigned char b : buffer) {
            if (b < kAcceptBelow && id.size() < kIdentifierLength) id += kAlphabet[b % kAlphabetSize];
        }
    }
    return id;
}

bool isResultIdentifier(const std::string& text) {
    if (text.size() != kIdentifierLength) return false;
    for (char c : text) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!ok) return false;
    }
    return true;
}
