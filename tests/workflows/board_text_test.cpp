#include "workflows/board_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brisel::workflows {
namespace {

using Lines = std::vector<std::string_view>;

TEST(BoardTextTest, LinesEndAtEveryUnicodeLineBreakAndEmptyLinesAreDropped) {
    struct Row {
        const char* label;
        std::string text;
        Lines lines;
    };
    const std::vector<Row> rows{
        {"plain", "a\nb", {"a", "b"}},
        {"CR LF is one break", "a\r\nb\r\n", {"a", "b"}},
        {"LF CR is two", "a\n\rb", {"a", "b"}},
        {"VT FF CR", "a\vb\fc\rd", {"a", "b", "c", "d"}},
        {"NEL, U+2028, U+2029", "a\u0085b\u2028c\u2029d", {"a", "b", "c", "d"}},
        {"empty lines dropped", "\n\n\r\na\n\n", {"a"}},
        {"nothing", "", {}},
        {"no break", "LATENCY: 5", {"LATENCY: 5"}},
        {"other characters of the same lead bytes stay", "\u00a0x\u2027y\u202a", {"\u00a0x\u2027y\u202a"}},
        {"a cut NEL stays in its line", std::string("a\xc2"), {"a\xc2"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(splitBoardLines(row.text), row.lines) << row.label;
    }
}

TEST(BoardTextTest, OnlyExactLatencyLinesGiveValues) {
    struct Row {
        const char* line;
        LatencyLineKind kind;
        std::int64_t value;
    };
    const std::vector<Row> rows{
        {"LATENCY: 12", LatencyLineKind::value, 12},
        {"LATENCY: 0007", LatencyLineKind::value, 7},
        {"LATENCY: 9223372036854775807", LatencyLineKind::value, 9223372036854775807},
        {"LATENCY: 9223372036854775808", LatencyLineKind::malformed, 0},
        {"LATENCY: 12345678901234567890", LatencyLineKind::malformed, 0},
        {"LATENCY: 5 ", LatencyLineKind::notLatency, 0},
        {" LATENCY: 5", LatencyLineKind::notLatency, 0},
        {"latency: 5", LatencyLineKind::notLatency, 0},
        {"LATENCY: ", LatencyLineKind::notLatency, 0},
        {"LATENCY:5", LatencyLineKind::notLatency, 0},
        {"LATENCY: -5", LatencyLineKind::notLatency, 0},
        {"LATENCY: \xd9\xa3", LatencyLineKind::notLatency, 0},  // an Arabic-Indic digit
    };
    for (const auto& row : rows) {
        const LatencyLine read = readLatencyLine(row.line);
        EXPECT_EQ(read.kind, row.kind) << row.line;
        EXPECT_EQ(read.value, row.value) << row.line;
    }
}

TEST(BoardTextTest, PredictionLinesGiveTheirTrimmedValues) {
    using Values = std::vector<std::string_view>;
    struct Row {
        const char* line;
        std::optional<Values> values;
    };
    const std::vector<Row> rows{
        {"PRED: 2, 0.1,0.7 ,0.2", Values{"2", "0.1", "0.7", "0.2"}},
        {"PRED:1", Values{"PRED:1"}},
        {"PRED: 1,, ,2", Values{"1", "", "2"}},
        {"PRED: 1,", std::nullopt},
        {"PRED: 1.", std::nullopt},
        {"PRED:", std::nullopt},
        {"PRED: 1a", std::nullopt},
        {" PRED: 1", std::nullopt},
        {"PRED: -1", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(readPredictionLine(row.line), row.values) << row.line;
    }
}

TEST(BoardTextTest, ScoreLinesMayStartAnywhereAndMustReadWhole) {
    struct Row {
        std::string line;
        ScoreLineKind kind;
        double value;
    };
    const std::vector<Row> rows{
        {"SCORE: 0.9", ScoreLineKind::value, 0.9},
        {"SCORE: -0.25", ScoreLineKind::value, -0.25},
        {"  SCORE: 3", ScoreLineKind::value, 3},
        {"\u00a0SCORE: 4", ScoreLineKind::value, 4},
        {"SCORE: 1,2", ScoreLineKind::unreadable, 0},
        {"SCORE:  1", ScoreLineKind::unreadable, 0},
        {"xSCORE: 1", ScoreLineKind::unreadable, 0},
        {"SCORE: x SCORE: 5", ScoreLineKind::unreadable, 0},
        {"SCORE: 1e999999", ScoreLineKind::notScore, 0},
        {"SCORE: 9" + std::string(400, '9'), ScoreLineKind::unreadable, 0},
        {"SCORE: 1 ", ScoreLineKind::notScore, 0},
        {"SCORE: -", ScoreLineKind::notScore, 0},
        {"score: 1", ScoreLineKind::notScore, 0},
        {"PRED: 1", ScoreLineKind::notScore, 0},
    };
    for (const auto& row : rows) {
        const ScoreLine read = readScoreLine(row.line);
        EXPECT_EQ(read.kind, row.kind) << row.line;
        EXPECT_EQ(read.value, row.value) << row.line;
    }
}

TEST(BoardTextTest, AReadOfTwoHundredKilobytesWithoutABreakIsOneLineThatMatchesNothing) {
    std::string text = "SCORE: " + std::string(208'942, '1');
    text[100] = 'x';
    const Lines lines = splitBoardLines(text);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(readLatencyLine(lines[0]).kind, LatencyLineKind::notLatency);
    EXPECT_FALSE(readPredictionLine(lines[0]));
    EXPECT_EQ(readScoreLine(lines[0]).kind, ScoreLineKind::notScore);
    const std::string repeated = [] {
        std::string markers;
        while (markers.size() < 208'942) {
            markers += "SCORE: -";
        }
        return markers;
    }();
    EXPECT_EQ(readScoreLine(repeated).kind, ScoreLineKind::notScore);
}

}  // namespace
}  // namespace brisel::workflows
