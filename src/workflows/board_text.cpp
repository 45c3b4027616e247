#include "workflows/board_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace brisel::workflows {
namespace {

constexpr std::string_view kLatencyPrefix{"LATENCY: "};
constexpr std::string_view kPredictionPrefix{"PRED:"};
constexpr std::string_view kPredictionRemoved{"PRED: "};
constexpr std::string_view kScoreMarker{"SCORE: "};

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// The characters that the prediction and score lines allow between their marker and last digit.
bool isNumberListCharacter(char c) {
    return c == ' ' || c == ',' || c == '.' || isAsciiDigit(c);
}

// True when `text` is non-empty, made of number-list characters only and ends in a digit.
bool isNumberList(std::string_view text) {
    return !text.empty() && isAsciiDigit(text.back()) &&
           std::all_of(text.begin(), text.end(), isNumberListCharacter);
}

// The length of the line break that starts at `offset`, or 0 when none does.
std::size_t lineBreakLength(std::string_view text, std::size_t offset) {
    const auto byte = static_cast<unsigned char>(text[offset]);
    const auto next = [&](std::size_t ahead) {
        return offset + ahead < text.size() ? static_cast<unsigned char>(text[offset + ahead]) : 0U;
    };
    switch (byte) {
        case '\r':
            return next(1) == '\n' ? 2 : 1;
        case '\n':
        case '\v':
        case '\f':
            return 1;
        case 0xC2:  // U+0085 NEL
            return next(1) == 0x85 ? 2 : 0;
        case 0xE2:  // U+2028 LINE SEPARATOR, U+2029 PARAGRAPH SEPARATOR
            return next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9) ? 3 : 0;
        default:
            return 0;
    }
}

// The length of the Unicode white space character (or line break) that starts at `offset`, or 0.
std::size_t whitespaceLengthAt(std::string_view text, std::size_t offset) {
    const auto at = [&](std::size_t ahead) {
        return offset + ahead < text.size() ? static_cast<unsigned char>(text[offset + ahead]) : 0U;
    };
    const unsigned first = at(0);
    if (first == ' ' || (first >= '\t' && first <= '\r')) {
        return 1;
    }
    if (first == 0xC2 && (at(1) == 0x85 || at(1) == 0xA0)) {
        return 2;  // U+0085, U+00A0
    }
    if (first == 0xE1 && at(1) == 0x9A && at(2) == 0x80) {
        return 3;  // U+1680
    }
    if (first == 0xE2 && at(1) == 0x80 &&
        (at(2) <= 0x8A || at(2) == 0xA8 || at(2) == 0xA9 || at(2) == 0xAF)) {
        return at(2) >= 0x80 ? 3 : 0;  // U+2000..U+200A, U+2028, U+2029, U+202F
    }
    if (first == 0xE2 && at(1) == 0x81 && at(2) == 0x9F) {
        return 3;  // U+205F
    }
    if (first == 0xE3 && at(1) == 0x80 && at(2) == 0x80) {
        return 3;  // U+3000
    }
    return 0;
}

// The length of the Unicode white space character that ends `text`, or 0.
std::size_t whitespaceLengthAtEnd(std::string_view text) {
    for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
        if (whitespaceLengthAt(text, text.size() - length) == length) {
            return length;
        }
    }
    return 0;
}

// `text` with every occurrence of `removed` taken out, scanning left to right.
std::string removingEvery(std::string_view text, std::string_view removed) {
    std::string result;
    result.reserve(text.size());
    std::size_t offset = 0;
    while (offset <= text.size()) {
        const std::size_t found = text.find(removed, offset);
        if (found == std::string_view::npos) {
            result.append(text.substr(offset));
            break;
        }
        result.append(text.substr(offset, found - offset));
        offset = found + removed.size();
    }
    return result;
}

// `text` read whole as a finite double, in the C library's number syntax (decimal, exponent, hex);
// none for leading white space, trailing characters, or a value out of range, infinite or NaN.
std::optional<double> wholeFiniteDouble(const std::string& text) {
    if (text.empty() || whitespaceLengthAt(text, 0) != 0) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::vector<std::string_view> splitBoardLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t lineStart = 0;
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t breakLength = lineBreakLength(text, offset);
        if (breakLength == 0) {
            ++offset;
            continue;
        }
        if (offset > lineStart) {
            lines.push_back(text.substr(lineStart, offset - lineStart));
        }
        offset += breakLength;
        lineStart = offset;
    }
    if (text.size() > lineStart) {
        lines.push_back(text.substr(lineStart));
    }
    return lines;
}

std::string_view trimUnicodeWhitespace(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length = whitespaceLengthAt(text, 0);
        if (length == 0) {
            break;
        }
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        const std::size_t length = whitespaceLengthAtEnd(text);
        if (length == 0) {
            break;
        }
        text.remove_suffix(length);
    }
    return text;
}

LatencyLine readLatencyLine(std::string_view line) {
    if (!line.starts_with(kLatencyPrefix)) {
        return {};
    }
    const std::string_view digits = line.substr(kLatencyPrefix.size());
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isAsciiDigit)) {
        return {};
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return {LatencyLineKind::malformed, 0};
    }
    return {LatencyLineKind::value, value};
}

std::optional<std::vector<std::string_view>> readPredictionLine(std::string_view line) {
    if (!line.starts_with(kPredictionPrefix) || !isNumberList(line.substr(kPredictionPrefix.size()))) {
        return std::nullopt;
    }
    // The number list holds no letters, so "PRED: " can only stand at the start.
    std::string_view rest =
        line.starts_with(kPredictionRemoved) ? line.substr(kPredictionRemoved.size()) : line;
    std::vector<std::string_view> values;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view piece = rest.substr(0, comma);
        if (!piece.empty()) {
            values.push_back(trimUnicodeWhitespace(piece));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    return values;
}

ScoreLine readScoreLine(std::string_view line) {
    // Any "SCORE: " whose rest of the line is an optional "-" and a number list makes a score line.
    // A rest that passes holds no further marker, so the scans never overlap: linear in the line.
    bool matches = false;
    for (std::size_t found = line.find(kScoreMarker); found != std::string_view::npos && !matches;
         found = line.find(kScoreMarker, found + 1)) {
        std::string_view rest = line.substr(found + kScoreMarker.size());
        if (rest.starts_with('-')) {
            rest.remove_prefix(1);
        }
        matches = isNumberList(rest);
    }
    if (!matches) {
        return {};
    }
    const std::optional<double> value =
        wholeFiniteDouble(removingEvery(trimUnicodeWhitespace(line), kScoreMarker));
    if (!value) {
        return {ScoreLineKind::unreadable, 0};
    }
    return {ScoreLineKind::value, *value};
}

}  // namespace brisel::workflows
