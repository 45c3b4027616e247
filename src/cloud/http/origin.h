// The origin of an http or https URL: scheme, host and port, the unit of trust for credentials.
#pragma once

#include <string>
#include <string_view>

#include <tl/expected.hpp>

#include "cloud/http/result.h"

namespace brisel::cloud {

struct HttpOrigin {
    std::string scheme;  // "http" or "https"
    std::string host;    // lower case; an IPv6 address in brackets
    int port = 0;        // the scheme's default port when the URL names none

    friend bool operator==(const HttpOrigin&, const HttpOrigin&) = default;
};

// The origin of an absolute URL. Any thread.
// Errors: `invalidRequest` when `url` is not an absolute URL with a host, `unsupportedScheme` when
// its scheme is neither http nor https.
tl::expected<HttpOrigin, HttpError> httpOriginOf(std::string_view url);

}  // namespace brisel::cloud
