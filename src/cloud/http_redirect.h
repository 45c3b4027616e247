// What the session sends when a reply redirects a request.
#pragma once

#include <string_view>

#include <tl/expected.hpp>

#include "cloud/http_origin.h"
#include "cloud/http_request.h"
#include "cloud/http_result.h"

namespace brisel::cloud {

// True for the redirect statuses that are followed: 301, 302, 303, 307 and 308.
bool isFollowedRedirect(int statusCode);

// The request that follows the reply `statusCode` to `sent`, sent to the absolute URL `target`.
// 303, and 301 or 302 after a POST, turn it into a GET without body (a HEAD stays a HEAD) and drop
// its Content-Type and Content-Length fields; otherwise method and body are kept. When the origin
// of `target` differs from `firstOrigin` (the origin of the chain's first request) the credential
// header is left out of the returned request, so it stays out for the rest of the chain.
// Errors: `invalidRequest` when `target` is not an absolute URL, `unsupportedScheme` when its scheme
// is neither http nor https.
tl::expected<HttpRequest, HttpError> followRedirect(const HttpRequest& sent, int statusCode,
                                                    std::string_view target, const HttpOrigin& firstOrigin);

}  // namespace brisel::cloud
