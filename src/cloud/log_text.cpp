#include "cloud/log_text.h"

#include <array>

namespace brisel::cloud {

std::string quotedForLog(std::string_view text) {
    static constexpr std::array<char, 16> kHexDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                                     '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (character == '"' || character == '\\') {
            quoted += '\\';
            quoted += character;
        } else if (byte < 0x20 || byte == 0x7F) {
            quoted += "\\u{";
            quoted += kHexDigits[byte >> 4U];
            quoted += kHexDigits[byte & 0x0FU];
            quoted += '}';
        } else {
            quoted += character;
        }
    }
    quoted += '"';
    return quoted;
}

}  // namespace brisel::cloud
