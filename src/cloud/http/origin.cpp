#include "cloud/http/origin.h"

#include <charconv>

#include "cloud/http/curl_handles.h"
#include "common/ascii.h"

namespace brisel::cloud {

namespace {

// One part of a parsed URL, or nothing when the URL lacks it.
std::string urlPart(CURLU* url, CURLUPart part, unsigned int flags) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) {
        return {};
    }
    std::string copy(text);
    curl_free(text);
    return copy;
}

HttpError invalidUrl(std::string_view url) {
    return {HttpErrorKind::invalidRequest,
            "\"" + std::string(url) + "\" is not an absolute URL; check the server address"};
}

}  // namespace

tl::expected<HttpOrigin, HttpError> httpOriginOf(std::string_view url) {
    CurlUrl parsed(curl_url());
    if (!parsed) {
        return tl::unexpected(HttpError{HttpErrorKind::transferFailed, "out of memory while parsing a URL"});
    }
    // Any scheme parses here, so that an unsupported one is told apart from a malformed URL.
    if (curl_url_set(parsed.get(), CURLUPART_URL, std::string(url).c_str(), CURLU_NON_SUPPORT_SCHEME) !=
        CURLUE_OK) {
        return tl::unexpected(invalidUrl(url));
    }
    HttpOrigin origin;
    origin.scheme = common::asciiLower(urlPart(parsed.get(), CURLUPART_SCHEME, 0));
    if (origin.scheme != "http" && origin.scheme != "https") {
        return tl::unexpected(HttpError{
            HttpErrorKind::unsupportedScheme,
            "the URL \"" + std::string(url) + "\" uses a scheme other than http or https; it is not loaded"});
    }
    origin.host = common::asciiLower(urlPart(parsed.get(), CURLUPART_HOST, 0));
    const std::string port = urlPart(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    const auto [end, problem] = std::from_chars(port.data(), port.data() + port.size(), origin.port);
    if (origin.host.empty() || problem != std::errc{} || end != port.data() + port.size()) {
        return tl::unexpected(invalidUrl(url));
    }
    return origin;
}

}  // namespace brisel::cloud
