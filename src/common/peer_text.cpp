#include "common/peer_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/utf8.h"

namespace brisel::common {

namespace {

constexpr std::array<char, 16> kHexDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// Appends "\<kind>{XX}": `value` in upper-case hex, at least two digits.
void appendEscape(std::string& out, char kind, std::uint32_t value) {
    std::array<char, 8> digits{};
    std::size_t count = 0;
    do {
        digits[count++] = kHexDigits[value & 0x0FU];
        value >>= 4U;
    } while (value != 0 || count < 2);
    out += '\\';
    out += kind;
    out += '{';
    while (count > 0) {
        out += digits[--count];
    }
    out += '}';
}

// The code point of a well-formed sequence.
std::uint32_t codePointOf(std::string_view sequence) {
    const auto lead = static_cast<unsigned char>(sequence.front());
    if (sequence.size() == 1) {
        return lead;
    }
    std::uint32_t value = lead & (0x7FU >> sequence.size());
    for (std::size_t index = 1; index < sequence.size(); ++index) {
        value = (value << 6U) | (static_cast<unsigned char>(sequence[index]) & 0x3FU);
    }
    return value;
}

// Characters that would end a line, or change how the rest of it is shown.
bool isUnsafe(std::uint32_t codePoint) {
    const bool control = codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
    const bool separator = codePoint == 0x2028 || codePoint == 0x2029;
    const bool bidirectional = codePoint == 0x061C || codePoint == 0x200E || codePoint == 0x200F ||
                               (codePoint >= 0x202A && codePoint <= 0x202E) ||
                               (codePoint >= 0x2066 && codePoint <= 0x2069);
    return control || separator || bidirectional;
}

// Appends the character (or the lone invalid byte) at `offset` as the log shows it; returns the number
// of bytes of `text` it stands for.
std::size_t appendCharacter(std::string& out, std::string_view text, std::size_t offset, PeerTextForm form) {
    const char first = text[offset];
    if (form == PeerTextForm::quoted && (first == '"' || first == '\\')) {
        out += '\\';
        out += first;
        return 1;
    }
    const std::size_t length = wellFormedSequenceLength(text, offset);
    if (length == 0) {
        appendEscape(out, 'x', static_cast<unsigned char>(first));
        return 1;
    }
    const std::string_view sequence = text.substr(offset, length);
    if (const std::uint32_t codePoint = codePointOf(sequence); isUnsafe(codePoint)) {
        appendEscape(out, 'u', codePoint);
    } else {
        out += sequence;
    }
    return length;
}

}  // namespace

std::string peerTextForLog(std::string_view text, PeerTextForm form, std::size_t limit) {
    const bool quoted = form == PeerTextForm::quoted;
    std::string out;
    out.reserve(std::min(text.size(), limit) + 2);
    if (quoted) {
        out += '"';
    }
    const std::size_t contentStart = out.size();
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t before = out.size();
        const std::size_t consumed = appendCharacter(out, text, offset, form);
        if (out.size() - contentStart > limit) {
            out.resize(before);
            break;
        }
        offset += consumed;
    }
    if (quoted) {
        out += '"';
    }
    if (offset < text.size()) {
        out += "... (" + std::to_string(text.size()) + " bytes in all)";
    }
    return out;
}

}  // namespace brisel::common
