#pragma once
// Text conversions of the management layer. Platform-neutral: UTF-16 input is converted
// by our own code, so Windows and Linux give byte-identical results.

#include <string>
#include <string_view>

// Converts a zero-terminated UTF-16 string to UTF-8 and removes trailing white space.
// Null gives the empty string; an unpaired surrogate becomes U+FFFD.
std::string wideToUtf8(const char16_t* w);

// The same for the platform's wide strings: UTF-16 where wchar_t has 16 bits (Windows),
// UTF-32 elsewhere (a value that is no Unicode scalar becomes U+FFFD).
std::string wideToUtf8(const wchar_t* w);

// Removes bytes from the end while the last one is zero or a white-space character of
// the "C" locale (space, \t, \n, \v, \f, \r). Leading and inner white space stay, and a
// byte of 0x80 or above is never removed.
void trimTrailingSpace(std::string& s);
