// Feeds arbitrary bytes, as one read of a board, to the line split and the three line readers: the
// lines must be non-empty pieces of the read, in order, separated only by line breaks; a latency value
// must print back to its line; prediction values must be pieces of their line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "workflows/board_text.h"

namespace {

using namespace brisel::workflows;

bool isInside(std::string_view piece, std::string_view whole) {
    return piece.data() >= whole.data() && piece.data() + piece.size() <= whole.data() + whole.size();
}

// True when `gap` is made of line breaks only.
bool onlyLineBreaks(std::string_view gap) {
    while (!gap.empty()) {
        if (!splitBoardLines(gap.substr(0, 1)).empty() && !gap.starts_with("\xc2\x85") &&
            !gap.starts_with("\xe2\x80\xa8") && !gap.starts_with("\xe2\x80\xa9")) {
            return false;
        }
        const std::size_t length = gap.starts_with("\xc2\x85") ? 2 : gap.starts_with("\xe2\x80") ? 3 : 1;
        gap.remove_prefix(length);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const char* expectedStart = text.data();
    for (std::string_view line : splitBoardLines(text)) {
        if (line.empty() || !isInside(line, text) || line.data() < expectedStart ||
            !onlyLineBreaks(
                std::string_view(expectedStart, static_cast<std::size_t>(line.data() - expectedStart))) ||
            splitBoardLines(line).size() != 1) {
            std::abort();
        }
        expectedStart = line.data() + line.size();

        const LatencyLine latency = readLatencyLine(line);
        if (latency.kind == LatencyLineKind::value) {
            std::string_view digits = line.substr(9);
            while (digits.size() > 1 && digits.front() == '0') {
                digits.remove_prefix(1);
            }
            if (latency.value < 0 || digits != std::to_string(latency.value)) {
                std::abort();
            }
        }
        if (const auto values = readPredictionLine(line)) {
            for (std::string_view value : *values) {
                if (!isInside(value, line) || value.find(',') != std::string_view::npos) {
                    std::abort();
                }
            }
        }
        (void)readScoreLine(line);
    }
    if (!onlyLineBreaks(std::string_view(
            expectedStart, static_cast<std::size_t>(text.data() + text.size() - expectedStart)))) {
        std::abort();
    }
    return 0;
}
