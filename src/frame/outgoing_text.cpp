#include "frame/outgoing_text.h"

#include <cstddef>

#include "common/utf8.h"

namespace brisel::frame {
namespace {

bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

bool isControlOrFormat(char32_t c) {
    if (c <= 0x1F || (c >= 0x7F && c <= 0x9F)) {
        return true;  // Cc
    }
    // Cf
    return c == 0xAD || (c >= 0x600 && c <= 0x605) || c == 0x61C || c == 0x6DD || c == 0x70F || c == 0x890 ||
           c == 0x891 || c == 0x8E2 || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x206F) ||
           c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) || c == 0x110BD || c == 0x110CD ||
           (c >= 0x13430 && c <= 0x1343F) || (c >= 0x1BCA0 && c <= 0x1BCA3) ||
           (c >= 0x1D173 && c <= 0x1D17A) || c == 0xE0001 || (c >= 0xE0020 && c <= 0xE007F);
}

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xE0) {
        return 2;
    }
    return lead < 0xF0 ? 3 : 4;
}

// The code point of the well-formed sequence of `length` bytes at the start of `bytes`.
char32_t decodeAt(std::string_view bytes, std::size_t length) {
    const auto byteAt = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]));
    };
    switch (length) {
        case 1:
            return byteAt(0);
        case 2:
            return ((byteAt(0) & 0x1FU) << 6U) | (byteAt(1) & 0x3FU);
        case 3:
            return ((byteAt(0) & 0x0FU) << 12U) | ((byteAt(1) & 0x3FU) << 6U) | (byteAt(2) & 0x3FU);
        default:
            return ((byteAt(0) & 0x07U) << 18U) | ((byteAt(1) & 0x3FU) << 12U) | ((byteAt(2) & 0x3FU) << 6U) |
                   (byteAt(3) & 0x3FU);
    }
}

// `text` (valid UTF-8) without the characters at both ends for which `trimmed` holds.
std::string_view trimEnds(std::string_view text, bool (*trimmed)(char32_t)) {
    while (!text.empty()) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(text.front()));
        if (!trimmed(decodeAt(text, length))) {
            break;
        }
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0U) == 0x80U) {
            --start;
        }
        if (!trimmed(decodeAt(text.substr(start), text.size() - start))) {
            break;
        }
        text.remove_suffix(text.size() - start);
    }
    return text;
}

}  // namespace

std::optional<std::string_view> outgoingFramePayload(std::string_view text) {
    if (!common::isValidUtf8(text)) {
        return std::nullopt;
    }
    return trimEnds(trimEnds(text, isWhiteSpace), isControlOrFormat);
}

}  // namespace brisel::frame
