#include "core/crypto.h"

#include <limits>
#include <stdexcept>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

namespace {

// Releases the provider and the hash object on every path.
struct Md5Handles {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Md5Handles() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

bool succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

std::array<unsigned char, 16> md5(std::string_view data) {
    std::array<unsigned char, 16> digest{};
    Md5Handles h;
    // The provider can only be missing on a broken system; a wrong digest must never be
    // sent, so that is treated like any other out-of-memory condition.
    if (!succeeded(BCryptOpenAlgorithmProvider(&h.algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)) ||
        !succeeded(BCryptCreateHash(h.algorithm, &h.hash, nullptr, 0, nullptr, 0, 0))) {
        throw std::runtime_error("MD5 is not available");
    }
    // BCryptHashData takes a 32-bit length: feed larger inputs piecewise.
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ULONG n = left > std::numeric_limits<ULONG>::max() ? std::numeric_limits<ULONG>::max()
                                                                 : static_cast<ULONG>(left);
        if (!succeeded(BCryptHashData(h.hash, reinterpret_cast<PUCHAR>(const_cast<char*>(p)), n, 0)))
            throw std::runtime_error("MD5 failed");
        p += n;
        left -= n;
    }
    if (!succeeded(BCryptFinishHash(h.hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw std::runtime_error("MD5 failed");
    return digest;
}

std::string base64Encode(const unsigned char* data, std::size_t size) {
    // CryptBinaryToStringA takes a 32-bit length, so large inputs go through in chunks of
    // whole 3-byte groups; NOCRLF keeps the text on one line.
    constexpr std::size_t kChunk = 3 * (1u << 20);
    constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    while (size > 0) {
        const DWORD n = static_cast<DWORD>(size < kChunk ? size : kChunk);
        DWORD length = 0;  // with no buffer: the size including the terminating zero
        if (!CryptBinaryToStringA(data, n, kFlags, nullptr, &length) || length == 0)
            throw std::runtime_error("Base64 encoding failed");
        const std::size_t start = text.size();
        text.resize(start + length);
        if (!CryptBinaryToStringA(data, n, kFlags, text.data() + start, &length))
            throw std::runtime_error("Base64 encoding failed");
        text.resize(start + length);  // now the count without the terminating zero
        data += n;
        size -= n;
    }
    return text;
}
