#pragma once
// Byte-level text helpers shared by the client, the inventory and the service.

#include <cstddef>
#include <string>
#include <string_view>

// White space of the "C" locale: space, \t, \n, \v, \f, \r.
inline constexpr std::string_view kCSpace = " \t\n\v\f\r";

// The text without the given characters at either end (default: "C" white space).
std::string_view trim(std::string_view text, std::string_view characters = kCSpace);

// Length of the well-formed UTF-8 sequence at text[i], or 0 if none starts there
// (overlong forms, surrogates and code points past U+10FFFF are not well formed).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i);

bool isValidUtf8(std::string_view text);

// Replaces every byte that does not start a well-formed UTF-8 sequence with U+FFFD, so
// bytes from firmware, files or drivers become valid text.
std::string sanitizeUtf8(std::string_view text);
