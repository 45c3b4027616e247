// Output that leaves lines out while whoever takes it falls behind: numbered lines in order, and in
// place of the lines left out a note that says how many they were.
#pragma once

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

namespace brisel::test_support {

struct LeftOutTally {
    int shown = 0;    // numbered lines present
    int leftOut = 0;  // lines that the notes stand for
};

// Reads `text` line by line up to the line `end` (or to its end). Each line is "<n> " + filler, n
// counting on from 0 over the lines before it (those that notes stand for included), or a note, for
// which `noteCount` gives the number of lines it stands for (none for a line that is no note). Fails
// with the first line that is neither.
inline tl::expected<LeftOutTally, std::string> tallyLeftOutLines(
    const std::string& text, std::string_view filler, std::string_view end,
    const std::function<std::optional<int>(const std::string& line)>& noteCount) {
    LeftOutTally tally;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line) && line != end;) {
        if (const auto count = noteCount(line)) {
            tally.leftOut += *count;
            continue;
        }
        const std::string expected = std::to_string(tally.shown + tally.leftOut) + " " + std::string(filler);
        if (line != expected) {
            return tl::unexpected("\"" + line + "\" where \"" + expected + "\" or a note belongs");
        }
        ++tally.shown;
    }
    return tally;
}

}  // namespace brisel::test_support
