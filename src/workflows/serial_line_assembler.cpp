#include "workflows/serial_line_assembler.h"

#include <utility>

#include "workflows/board_text.h"

namespace brisel::workflows {

std::vector<std::string> SerialLineAssembler::feed(std::string_view bytes) {
    pending.append(bytes);
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
