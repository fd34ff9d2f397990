#pragma once
// The two primitives the result digest needs, taken from the platform's crypto library
// (OpenSSL on Linux, BCrypt on Windows) rather than written here.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// MD5 (RFC 1321) of the bytes.
std::array<unsigned char, 16> md5(std::string_view data);

// Base64 (RFC 4648): standard alphabet, "=" padding, no line breaks.
std::string base64Encode(const unsigned char* data, std::size_t size);
