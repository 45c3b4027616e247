#include "cloud/http/request.h"

#include <algorithm>

#include "common/ascii.h"

namespace brisel::cloud {

bool headerNameEquals(std::string_view first, std::string_view second) {
    return common::equalsIgnoringAsciiCase(first, second);
}

bool isSafeHeaderValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
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
