// The REST base address, checked before any request is sent to it.
//
// The base address is assembled from fields of a browser request, so it is checked as hostile input:
// the user's credential goes only to an http or https origin that the text names without ambiguity.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

namespace brisel::cloud {

// The origin of a valid base address. `scheme` is "http" or "https" in lower case; `host` is a host name,
// an IPv4 address or a bracketed IPv6 address, as written; `port` lies in 1 to 65535.
struct BaseURL {
    std::string scheme;
    std::string host;
    std::uint16_t port = 0;

    // scheme "://" host ":" port, the port in decimal without leading zeros.
    std::string origin() const;

    friend bool operator==(const BaseURL&, const BaseURL&) = default;
};

// Checks a base address of the form scheme "://" host ":" port, optionally followed by a path that the
// endpoint's path replaces. An empty port (scheme "://" host ":") is the scheme's default port, 80 for
// http and 443 for https. Refused, with a reason in words:
// - a scheme other than http or https (letter case is ignored);
// - a text without "://", without a host or without the ":" before the port;
// - "@" (user information), "?" or "#" anywhere after "://";
// - a host holding "/", "\", blanks or control characters, or ":" outside IPv6 brackets;
// - a port that is not all digits or not within 1 to 65535.
// Pure; any thread.
tl::expected<BaseURL, std::string> parseBaseURL(std::string_view text);

// `segment` percent-encoded so that it stays one path segment: every byte but the unreserved characters,
// the sub-delimiters, ":" and "@" becomes %XX (so "/", "?", "#", "%", blanks and non-ASCII bytes are
// encoded), and the dot segments "." and ".." are written as %2E and %2E%2E. Pure; any thread.
std::string percentEncodePathSegment(std::string_view segment);

}  // namespace brisel::cloud
