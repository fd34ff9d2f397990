#include "core/crypto.h"

#include <memory>
#include <stdexcept>

#include <openssl/evp.h>

std::array<unsigned char, 16> md5(std::string_view data) {
    std::array<unsigned char, 16> digest{};
    unsigned int length = 0;
    // EVP_Digest can only fail on allocation or a missing provider; a wrong digest must
    // never be sent, so that is treated like any other out-of-memory condition.
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr) != 1 ||
        length != digest.size()) {
        throw std::runtime_error("MD5 is not available");
    }
    return digest;
}

std::string base64Encode(const unsigned char* data, std::size_t size) {
    // EVP_EncodeBlock writes whole lines without breaks and a terminating zero; its length
    // argument is an int, so large inputs go through in chunks of whole 3-byte groups.
    constexpr std::size_t kChunk = 3 * (1u << 20);
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    while (size > 0) {
        const std::size_t n = size < kChunk ? size : kChunk;
        const std::size_t start = text.size();
        text.resize(start + (n + 2) / 3 * 4 + 1);
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data() + start),
                                            data, static_cast<int>(n));
        text.resize(start + static_cast<std::size_t>(written));
        data += n;
        size -= n;
    }
    return text;
}
