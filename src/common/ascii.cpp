#include "common/ascii.h"

#include <algorithm>

namespace brisel::common {

char asciiLower(char character) {
    if (character >= 'A' && character <= 'Z') {
        return static_cast<char>(character - 'A' + 'a');
    }
    return character;
}

std::string asciiLower(std::string_view text) {
    std::string lowered(text);
    for (char& character : lowered) {
        character = asciiLower(character);
    }
    return lowered;
}

bool equalsIgnoringAsciiCase(std::string_view first, std::string_view second) {
    return std::ranges::equal(first, second,
                              [](char left, char right) { return asciiLower(left) == asciiLower(right); });
}

}  // namespace brisel::common
