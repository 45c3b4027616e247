#include "cloud/http_redirect.h"

namespace brisel::cloud {

bool isFollowedRedirect(int statusCode) {
    return statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307 ||
           statusCode == 308;
}

tl::expected<HttpRequest, HttpError> followRedirect(const HttpRequest& sent, int statusCode,
                                                    std::string_view target, const HttpOrigin& firstOrigin) {
    auto targetOrigin = httpOriginOf(target);
    if (!targetOrigin) {
        HttpError error = targetOrigin.error();
        error.message = "the server redirected to an address that is not followed: " + error.message;
        return tl::unexpected(std::move(error));
    }
    HttpRequest next = sent;
    next.url = std::string(target);
    const bool becomesGet =
        statusCode == 303 || ((statusCode == 301 || statusCode == 302) && sent.method == "POST");
    if (becomesGet && sent.method != "HEAD") {
        next.method = "GET";
    }
    if (becomesGet) {
        next.body = std::monostate{};
        removeHeader(next.headers, "Content-Type");
        removeHeader(next.headers, "Content-Length");
    }
    if (next.credentialHeader && *targetOrigin != firstOrigin) {
        removeHeader(next.headers, *next.credentialHeader);
    }
    return next;
}

}  // namespace brisel::cloud
