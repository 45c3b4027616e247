#include "common/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace brisel::common {
namespace {

// Each sequence alone, and behind every count of ASCII bytes up to two words, so that it falls at
// every place of the eight-byte steps over ASCII text, and with ASCII after it.
TEST(IsValidUtf8Test, JudgesEverySequenceWhereverItFallsInTheText) {
    struct Row {
        const char* label;
        std::string_view bytes;
        bool valid;
    };
    const Row rows[] = {
        {"nothing", "", true},
        {"nul", std::string_view("\0", 1), true},
        {"delete", "\x7F", true},
        {"two-byte", "\xC3\xA9", true},
        {"three-byte", "\xE2\x82\xAC", true},
        {"four-byte", "\xF0\x9F\x98\x80", true},
        {"largest code point", "\xF4\x8F\xBF\xBF", true},
        {"stray continuation", "\x80", false},
        {"overlong two-byte", "\xC0\xAF", false},
        {"overlong three-byte", "\xE0\x80\xAF", false},
        {"overlong four-byte", "\xF0\x80\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lead byte FF", "\xFF", false},
        {"cut short", "\xE2\x82", false},
    };
    for (const Row& row : rows) {
        for (std::size_t ascii = 0; ascii <= 16; ++ascii) {
            const std::string before(ascii, 'a');
            EXPECT_EQ(isValidUtf8(before + std::string(row.bytes)), row.valid)
                << row.label << " after " << ascii;
            EXPECT_EQ(isValidUtf8(before + std::string(row.bytes) + "0123456789"), row.valid)
                << row.label << " after " << ascii << ", ASCII behind";
        }
    }
}

TEST(ByteOffsetAfterCharactersTest, CountsCodePointsAndEveryInvalidByteAsOne) {
    struct Row {
        const char* label;
        std::string_view bytes;
        std::size_t count;
        std::size_t expected;
    };
    const Row rows[] = {
        {"ascii", "abcdef", 3, 3},
        {"two-byte", "\xC3\xA9\xC3\xA9x", 2, 4},
        {"three-byte", "\xE2\x82\xAC!", 1, 3},
        {"four-byte", "\xF0\x9F\x98\x80!", 1, 4},
        {"stray continuation",
         "\x80\x80"
         "a",
         2, 2},
        {"overlong two-byte", "\xC0\xAF", 1, 1},
        {"overlong three-byte", "\xE0\x80\xAF", 1, 1},
        {"surrogate", "\xED\xA0\x80", 1, 1},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 1, 1},
        {"cut short by the end", "\xE2\x82", 2, 2},
        {"cut short by ascii", "\xE2\x82Z", 3, 3},
        {"count beyond the text", "ab", 5, 2},
        {"zero count", "ab", 0, 0},
        {"nul is a character", std::string_view("\0\0", 2), 1, 1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(byteOffsetAfterCharacters(row.bytes, row.count), row.expected) << row.label;
    }
}

}  // namespace
}  // namespace brisel::common
