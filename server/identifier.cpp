#include "server/identifier.h"

#include <stdexcept>

#include <openssl/rand.h>

namespace {
constexpr unsigned kAlphabetSize = kIdentifierAlphabet.size();
// Bytes at or above the largest multiple of the alphabet's size are thrown away so that
// every character is equally likely.
constexpr unsigned kAcceptBelow = 256 - 256 % kAlphabetSize;
static_assert(kAlphabetSize > 1 && kAlphabetSize <= 256);
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
            if (b < kAcceptBelow && id.size() < kIdentifierLength) id += kIdentifierAlphabet[b % kAlphabetSize];
        }
    }
    return id;
}
