#include "core/crypto.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string hex(const std::array<unsigned char, 16>& digest) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string base64(const std::string& text) {
    return base64Encode(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

}  // namespace

// The test suite of RFC 1321, appendix A.5.
TEST(Md5, MatchesRfc1321TestSuite) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(hex(md5(input)), expected) << input;
}

TEST(Md5, HashesEmbeddedZeroBytes) {
    const std::string withZero("a\0b", 3);
    EXPECT_NE(hex(md5(withZero)), hex(md5("a")));
    EXPECT_NE(hex(md5(withZero)), hex(md5("ab")));
}

// The test vectors of RFC 4648, section 10.
TEST(Base64, MatchesRfc4648TestVectors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(base64(input), expected) << input;
}

TEST(Base64, UsesStandardAlphabetWithoutLineBreaks) {
    // 0xFB 0xFF 0xBF encodes to the two characters outside A-Z, a-z, 0-9.
    const unsigned char high[] = {0xFB, 0xFF, 0xBF};
    EXPECT_EQ(base64Encode(high, sizeof high), "+/+/");

    std::vector<unsigned char> block(1024);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 7);
    const std::string text = base64Encode(block.data(), block.size());
    EXPECT_EQ(text.size(), 1368u);
    EXPECT_EQ(text.substr(1366), "==");
    EXPECT_EQ(text.find('\n'), std::string::npos);
}
