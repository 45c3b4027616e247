#include "cloud/url_request.h"

namespace brisel::cloud {

std::optional<std::string> URLRequest::header(std::string_view name) const {
    if (const HttpHeader* field = findHeader(headers, name)) {
        return field->value;
    }
    return std::nullopt;
}

}  // namespace brisel::cloud
