#include "cloud/url_request.h"

#include "common/ascii.h"

namespace brisel::cloud {

std::optional<std::string> URLRequest::header(std::string_view name) const {
    for (const HeaderField& field : headers) {
        if (common::equalsIgnoringAsciiCase(field.name, name)) {
            return field.value;
        }
    }
    return std::nullopt;
}

}  // namespace brisel::cloud
