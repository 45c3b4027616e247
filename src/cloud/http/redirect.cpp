#include "cloud/http/redirect.h"

#include "common/peer_text.h"

namespace brisel::cloud {

namespace {

// True when following `statusCode` sends `method` again unchanged, body included.
bool keepsTheRequest(std::string_view method, int statusCode) {
    return method == "GET" || method == "HEAD" || statusCode == 307 || statusCode == 308;
}

}  // namespace

bool isFollowedRedirect(int statusCode) {
    return statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307 ||
           statusCode == 308;
}

tl::expected<HttpRequest, HttpError> followRedirect(const HttpRequest& sent, int statusCode,
                                                    std::string_view target, const HttpOrigin& firstOrigin) {
    if (!keepsTheRequest(sent.method, statusCode)) {
        return tl::unexpected(HttpError{
            HttpErrorKind::redirectNotFollowed,
            "the server answered " + sent.method + " " + sent.url + " with " + std::to_string(statusCode) +
                " to " + common::peerTextForLog(target, common::PeerTextForm::quoted) +
                "; only 307 and 308 send a " + sent.method +
                " again with its body, so the redirect was not followed and the request counts as failed. "
                "Check the server address (scheme, host and port): it should name the server itself, not an "
                "address that redirects"});
    }
    auto targetOrigin = httpOriginOf(target);
    if (!targetOrigin) {
        HttpError error = targetOrigin.error();
        error.message = "the server redirected to an address that is not followed: " + error.message;
        return tl::unexpected(std::move(error));
    }
    HttpRequest next = sent;
    next.url = std::string(target);
    if (next.credentialHeader && *targetOrigin != firstOrigin) {
        removeHeader(next.headers, *next.credentialHeader);
    }
    return next;
}

}  // namespace brisel::cloud
