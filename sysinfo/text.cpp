#include "sysinfo/text.h"

#include <cstddef>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isCSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isScalarValue(char32_t cp) {
    return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

void appendUtf8(std::string& out, char32_t cp) {
    if (!isScalarValue(cp)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string utf32ToUtf8(const wchar_t* w) {
    std::string out;
    for (std::size_t i = 0; w[i] != 0; ++i) appendUtf8(out, static_cast<char32_t>(w[i]));
    trimTrailingSpace(out);
    return out;
}

}  // namespace

void trimTrailingSpace(std::string& s) {
    while (!s.empty() && (s.back() == '\0' || isCSpace(static_cast<unsigned char>(s.back()))))
        s.pop_back();
}

std::string wideToUtf8(const char16_t* w) {
    if (w == nullptr) return {};
    std::string out;
    for (std::size_t i = 0; w[i] != 0; ++i) {
        char32_t cp = w[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const char32_t low = w[i + 1];  // the terminator at worst, never past it
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                cp = kReplacement;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    trimTrailingSpace(out);
    return out;
}

std::string wideToUtf8(const wchar_t* w) {
    if (w == nullptr) return {};
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
        // Same size and representation; the platform's wide strings are UTF-16 here.
        return wideToUtf8(reinterpret_cast<const char16_t*>(w));
    } else {
        return utf32ToUtf8(w);
    }
}
