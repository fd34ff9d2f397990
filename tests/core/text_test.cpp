#include "core/text.h"

#include <gtest/gtest.h>

#include <string>

// The one trim: "C" white space by default, or the characters the caller names (HTTP's
// optional white space is only space and tab).
TEST(Trim, RemovesTheNamedCharactersAtBothEndsOnly) {
    struct Case {
        std::string input;
        std::string characters;
        std::string expected;
    };
    const std::string cSpace(kCSpace);
    const Case cases[] = {
        {"  a b \t", cSpace, "a b"},
        {"\r\n\v\fvalue\f\v\n\r", cSpace, "value"},
        {"   ", cSpace, ""},
        {"", cSpace, ""},
        {"x", cSpace, "x"},
        {std::string("\0a\0", 3), cSpace, std::string("\0a\0", 3)},  // a zero byte is not space
        {"\xC2\xA0" "a", cSpace, "\xC2\xA0" "a"},                       // nor is a no-break space
        {" \t utf-8 \t ", " \t", "utf-8"},
        {"\r\nutf-8\r\n", " \t", "\r\nutf-8\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string(trim(c.input, c.characters)), c.expected) << '"' << c.input << '"';
    }
    EXPECT_EQ(trim(" a "), "a");
}
