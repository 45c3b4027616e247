#include "cloud/http_request.h"

#include <algorithm>

namespace brisel::cloud {

namespace {

char lowerAscii(char letter) {
    if (letter >= 'A' && letter <= 'Z') {
        return static_cast<char>(letter - 'A' + 'a');
    }
    return letter;
}

}  // namespace

bool headerNameEquals(std::string_view first, std::string_view second) {
    return std::ranges::equal(first, second,
                              [](char left, char right) { return lowerAscii(left) == lowerAscii(right); });
}

const HttpHeader* findHeader(const HttpHeaders& headers, std::string_view name) {
    auto found = std::ranges::find_if(
        headers, [name](const HttpHeader& header) { return headerNameEquals(header.name, name); });
    return found == headers.end() ? nullptr : &*found;
}

void removeHeader(HttpHeaders& headers, std::string_view name) {
    std::erase_if(headers, [name](const HttpHeader& header) { return headerNameEquals(header.name, name); });
}

}  // namespace brisel::cloud
