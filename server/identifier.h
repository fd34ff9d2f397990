#pragma once
#include <string>

inline constexpr std::size_t kIdentifierLength = 12;

// A new result identifier: 12 characters of [0-9A-Za-z] from OpenSSL's cryptographic
// generator. Throws std::runtime_error if the generator fails.
std::string newResultIdentifier();

bool isResultIdentifier(const std::string& text);
