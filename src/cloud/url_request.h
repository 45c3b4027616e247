// A finished REST request, ready for the HTTP session: method, absolute URL, header fields, body.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "cloud/http/method.h"
#include "cloud/http/request.h"

namespace brisel::cloud {

// A plain value: built by `Endpoint::request()`, sent by the REST client, copied freely.
struct URLRequest {
    HTTPMethod method = HTTPMethod::get();
    // Absolute http or https URL: scheme "://" host ":" port, then the percent-encoded path.
    std::string url;
    // In the order they were set; names are unique (compared without letter case).
    HttpHeaders headers;
    // The body bytes; absent when the request has no body.
    std::optional<std::string> body;
    // The most body bytes the reply may have; none: the session's limit for records.
    std::optional<std::size_t> maxResponseBodyBytes;

    // The value of the header field `name` (compared without letter case), or none.
    std::optional<std::string> header(std::string_view name) const;
};

}  // namespace brisel::cloud
