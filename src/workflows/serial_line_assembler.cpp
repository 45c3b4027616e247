#include "workflows/serial_line_assembler.h"

#include <algorithm>
#include <utility>

#include "workflows/board_text.h"

namespace brisel::workflows {

namespace {

bool holdsLineBreak(std::string_view text) {
    const std::vector<std::string_view> lines = splitBoardLines(text);
    return !text.empty() && (lines.size() != 1 || lines.front().size() != text.size());
}

}  // namespace

std::vector<std::string> SerialLineAssembler::feed(std::string_view bytes) {
    // The last two bytes kept may begin a three-byte break that this read completes.
    const std::size_t lookFrom = pending.size() - std::min<std::size_t>(pending.size(), 2);
    pending.append(bytes);
    if (!holdsLineBreak(std::string_view(pending).substr(lookFrom))) {
        // Only the unfinished line grew: it is not split again, so a long line costs one look per byte.
        if (skippingToBreak || pending.size() > kMaxLineBytes) {
            pending.clear();
            skippingToBreak = true;
        }
        return {};
    }
    std::vector<std::string_view> lines = splitBoardLines(pending);
    const char* const end = pending.data() + pending.size();
    std::string_view open;  // the last line, when no break follows it
    if (!lines.empty() && lines.back().data() + lines.back().size() == end) {
        open = lines.back();
        lines.pop_back();
    }
    const bool sawBreak = open.size() != pending.size();
    std::vector<std::string> complete;
    complete.reserve(lines.size());
    for (const auto line : lines) {
        if (skippingToBreak && line.data() == pending.data()) {
            continue;  // the end of a dropped line
        }
        complete.emplace_back(line);
    }
    std::string rest = skippingToBreak && !sawBreak ? std::string() : std::string(open);
    if (sawBreak) {
        skippingToBreak = false;
    }
    if (rest.size() > kMaxLineBytes) {
        rest.clear();
        skippingToBreak = true;
    }
    pending = std::move(rest);
    return complete;
}

void SerialLineAssembler::clear() {
    pending.clear();
    skippingToBreak = true;
}

}  // namespace brisel::workflows
