#include "cloud/url_request.h"

#include <algorithm>

namespace brisel::cloud {

namespace {

char lowerAscii(char character) {
    if (character >= 'A' && character <= 'Z') {
        return static_cast<char>(character - 'A' + 'a');
    }
    return character;
}

bool equalWithoutCase(std::string_view left, std::string_view right) {
    return std::ranges::equal(left, right, [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

}  // namespace

std::optional<std::string> URLRequest::header(std::string_view name) const {
    for (const HeaderField& field : headers) {
        if (equalWithoutCase(field.name, name)) {
            return field.value;
        }
    }
    return std::nullopt;
}

}  // namespace brisel::cloud
