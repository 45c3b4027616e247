// What the session sends when a reply redirects a request.
#pragma once

#include <string_view>

#include <tl/expected.hpp>

#include "cloud/http/origin.h"
#include "cloud/http/request.h"
#include "cloud/http/result.h"

namespace brisel::cloud {

// True for the redirect statuses that are followed: 301, 302, 303, 307 and 308.
bool isFollowedRedirect(int statusCode);

// The request that follows the reply `statusCode` to `sent`, sent to the absolute URL `target`: the
// same method, fields and body, the body sent again from its first byte (a file body is opened again
// by the next transfer). A redirect is followed only where it sends the same request again: a GET or
// HEAD follows any of the statuses above, every other method only 307 and 308. A 301 or 302 after any
// other method, or a 303 after it, would have to send it again as a GET without its body, and a 2xx to
// that GET would pass for the success of a request whose body the server never took. When the origin
// of `target` differs from `firstOrigin` (the origin of the chain's first request) the credential
// header is left out of the returned request, so it stays out for the rest of the chain.
// Errors: `redirectNotFollowed` for a redirect that would change the method or drop the body (the
// message names the method, the status and the target); `invalidRequest` when `target` is not an
// absolute URL, `unsupportedScheme` when its scheme is neither http nor https. Pure; any thread.
tl::expected<HttpRequest, HttpError> followRedirect(const HttpRequest& sent, int statusCode,
                                                    std::string_view target, const HttpOrigin& firstOrigin);

}  // namespace brisel::cloud
