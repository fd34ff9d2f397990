#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "sysinfo/text.h"

namespace {

struct WideCase {
    const char* label;
    std::u16string input;
    std::string expected;
};

class WideToUtf8Cases : public ::testing::TestWithParam<WideCase> {};

TEST_P(WideToUtf8Cases, ConvertsAndTrimsTheEnd) {
    EXPECT_EQ(wideToUtf8(GetParam().input.c_str()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WideToUtf8Cases,
    ::testing::Values(
        WideCase{"TrailingSpacesAndTab", u"Sample CPU   \t", "Sample CPU"},
        WideCase{"LeadingSpacesKept", u"   Sample CPU", "   Sample CPU"},
        WideCase{"InnerWhiteSpaceKept", u"Sample \t CPU", "Sample \t CPU"},
        WideCase{"OnlySpaces", u"     ", ""},
        WideCase{"Empty", u"", ""},
        WideCase{"EveryCWhiteSpace", u"x \t\n\v\f\r", "x"},
        WideCase{"NonAscii", u"Prozessor für Büro – 東京 \U0001F680", "Prozessor für Büro – 東京 🚀"},
        // U+00A0 ends in byte 0xA0, which is not white space of the "C" locale.
        WideCase{"NoBreakSpaceKept", u"Name\u00A0", "Name\xC2\xA0"},
        WideCase{"UnpairedSurrogate", std::u16string{u'a', char16_t(0xD800), u'b'}, "a\xEF\xBF\xBD" "b"},
        WideCase{"LoneLowSurrogateAtEnd", std::u16string{u'a', char16_t(0xDC00)}, "a\xEF\xBF\xBD"}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

TEST(WideToUtf8, NullGivesEmpty) {
    EXPECT_EQ(wideToUtf8(static_cast<const char16_t*>(nullptr)), "");
    EXPECT_EQ(wideToUtf8(static_cast<const wchar_t*>(nullptr)), "");
}

TEST(WideToUtf8, PlatformWideStrings) {
    EXPECT_EQ(wideToUtf8(L"Caf\u00e9 \U0001F680 \t "), "Café 🚀");
    EXPECT_EQ(wideToUtf8(L"  "), "");
}

struct ValidCase {
    const char* label;
    std::string input;
    std::string expected;
};

class ToValidUtf8Cases : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ToValidUtf8Cases, ReplacesWhatIsNotUtf8) {
    EXPECT_EQ(sanitizeUtf8(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ToValidUtf8Cases,
    ::testing::Values(ValidCase{"ValidUnchanged", "Büro 東京 🚀", "Büro 東京 🚀"},
                      ValidCase{"Latin1", "Soci\xE9t\xE9", "Soci\xEF\xBF\xBDt\xEF\xBF\xBD"},
                      ValidCase{"Overlong", "\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},
                      ValidCase{"Surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      ValidCase{"AboveUnicode", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      ValidCase{"CutShort", "ab\xE6\x97", "ab\xEF\xBF\xBD\xEF\xBF\xBD"}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

}  // namespace
