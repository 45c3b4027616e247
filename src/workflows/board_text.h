// The text that a flashed board prints: the lines of one read and the three kinds of line that the
// workflows look for (latency, prediction and score lines).
//
// Boards are peers: a read may hold any bytes, and one read may bring a few hundred kilobytes without
// a line break. Every function here is a linear scan written by hand (no regex engine, whose
// backtracking recurses per character), keeps no state between reads and never throws. Pure; any
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace brisel::workflows {

// The lines of one read: `text` cut at LF, VT, FF, CR, CR LF (one break), NEL (U+0085), U+2028 and
// U+2029, empty lines dropped, in order. The views point into `text`. Each read is cut by itself: a
// line that two reads share is two lines. Bytes that are not UTF-8 are kept inside their line.
std::vector<std::string_view> splitBoardLines(std::string_view text);

// `text` without the Unicode white space (and line breaks) at its two ends.
std::string_view trimUnicodeWhitespace(std::string_view text);

// What a latency line "LATENCY: <digits>" says.
enum class LatencyLineKind {
    // Not exactly "LATENCY: " followed by one or more ASCII digits (a trailing blank, lower case and
    // a prefix without digits all fall here).
    notLatency,
    // A latency line whose number does not fit a signed 64-bit integer.
    malformed,
    // A latency line with its number in `LatencyLine::value`.
    value,
};

struct LatencyLine {
    LatencyLineKind kind = LatencyLineKind::notLatency;
    std::int64_t value = 0;
};

// Reads `line` (one line of splitBoardLines) as a latency line.
LatencyLine readLatencyLine(std::string_view line);

// The values of a prediction line, or none when `line` is not one. A prediction line is "PRED:"
// followed by blanks, commas, ASCII digits and dots only, ending in a digit. Its values: the line
// without "PRED: " (so "PRED:1", having no blank, keeps the whole line as its one value), cut at
// commas with empty pieces dropped, each piece trimmed of white space (a piece of blanks becomes an
// empty value). The first value is the class. The views point into `line`.
std::optional<std::vector<std::string_view>> readPredictionLine(std::string_view line);

// What a score line says.
enum class ScoreLineKind {
    // The line does not end in "SCORE: " followed by an optional "-", then blanks, commas, ASCII
    // digits and dots, the last one a digit (the part before "SCORE: " may be anything).
    notScore,
    // A score line whose text is not one number: the line trimmed of white space, every "SCORE: "
    // removed, is not read whole as a double (leading blanks, "1,2", "1 2" and "x1" all fail).
    unreadable,
    // A score line with its number in `ScoreLine::value`.
    value,
};

struct ScoreLine {
    ScoreLineKind kind = ScoreLineKind::notScore;
    double value = 0;
};

// Reads `line` (one line of splitBoardLines) as a score line.
ScoreLine readScoreLine(std::string_view line);

}  // namespace brisel::workflows
