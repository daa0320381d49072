#include "api/engine_text.h"

#include <gtest/gtest.h>

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(EngineText, RemovesNulCharacters) {
    EXPECT_EQ(to_engine_text(std::string("a\0b\0", 4)), "ab");
    EXPECT_EQ(to_engine_text("fenêtre"), "fenêtre");
}

TEST(EngineText, NullReadsAsEmpty) {
    EXPECT_EQ(from_engine_text(nullptr), "");
}

TEST(EngineText, ReplacesMaximalInvalidSubparts) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"é€😀", "é€😀"},
        {"\xff", fffd},
        {"a\xc3", "a" + fffd}, // truncated two-byte sequence
        {"\xe2\x82"
         "x",
         fffd + "x"},                         // truncated three-byte sequence is one U+FFFD
        {"\xed\xa0\x80", fffd + fffd + fffd}, // surrogate: lead refused its follower
        {"\xc0\xaf", fffd + fffd},            // overlong
        {"\xf4\x90\x80\x80", fffd + fffd + fffd + fffd}, // above U+10FFFF
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sanitize_utf8(c.in), c.out) << c.in;
        EXPECT_EQ(is_valid_utf8(c.in), c.in == c.out) << c.in;
    }
}

} // namespace
