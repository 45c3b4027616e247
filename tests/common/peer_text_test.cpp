#include "common/peer_text.h"

#include <gtest/gtest.h>

#include <string>

namespace brisel::common {
namespace {

TEST(PeerTextForLogTest, EscapesWhatCouldEndOrDisguiseALineAndCutsAtTheBound) {
    struct Row {
        const char* label;
        std::string text;
        PeerTextForm form;
        std::size_t limit;
        std::string expected;
    };
    const Row rows[] = {
        {"plain text is kept", R"({"a": "b\"c"})", PeerTextForm::plain, 100, R"({"a": "b\"c"})"},
        {"quoted text escapes quotes and backslashes", R"(say "hi" \o/)", PeerTextForm::quoted, 100,
         R"("say \"hi\" \\o/")"},
        {"line ends cannot start a line", "A\r\nFORGED LOG LINE\n", PeerTextForm::plain, 100,
         R"(A\u{0D}\u{0A}FORGED LOG LINE\u{0A})"},
        {"every C0 control, delete and C1 control", std::string("\0\x1B\x7F", 3) + "\xC2\x85\xC2\x9F\xC2\xA0",
         PeerTextForm::plain, 100, "\\u{00}\\u{1B}\\u{7F}\\u{85}\\u{9F}\xC2\xA0"},
        {"line separators and bidirectional overrides",
         "a\xE2\x80\xA8"
         "b\xE2\x80\xA9"
         "c\xE2\x80\xAE"
         "d\xE2\x81\xA6"
         "e\xE2\x82\xAC",
         PeerTextForm::plain, 100, "a\\u{2028}b\\u{2029}c\\u{202E}d\\u{2066}e\xE2\x82\xAC"},
        {"bytes that are not UTF-8", "\xFF\xC3(\xED\xA0\x80", PeerTextForm::plain, 100,
         "\\x{FF}\\x{C3}(\\x{ED}\\x{A0}\\x{80}"},
        {"cut at the bound with the whole size", std::string(10, 'a'), PeerTextForm::plain, 4,
         "aaaa... (10 bytes in all)"},
        {"quoted and cut", std::string(10, 'a'), PeerTextForm::quoted, 4, "\"aaaa\"... (10 bytes in all)"},
        {"an escape that would pass the bound is left out whole", "abc\n", PeerTextForm::plain, 6,
         "abc... (4 bytes in all)"},
        {"a character is never split", "a\xE2\x82\xAC", PeerTextForm::plain, 3, "a... (4 bytes in all)"},
        {"text of exactly the bound is whole", "abcd", PeerTextForm::plain, 4, "abcd"},
        {"nothing", "", PeerTextForm::quoted, 4, "\"\""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(peerTextForLog(row.text, row.form, row.limit), row.expected) << row.label;
    }
}

}  // namespace
}  // namespace brisel::common
