// One HTTP request as the session sends it: method, absolute URL, header fields and body.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brisel::cloud {

// One header field. Names compare without regard to letter case (see `headerNameEquals`).
struct HttpHeader {
    std::string name;
    std::string value;

    friend bool operator==(const HttpHeader&, const HttpHeader&) = default;
};

using HttpHeaders = std::vector<HttpHeader>;

// A body streamed from a regular file. The file is opened when the request is sent (again for each
// redirect that keeps the body) and read piece by piece; it is never loaded whole. Its size at
// opening is announced as Content-Length and exactly that many bytes are sent.
struct HttpFileBody {
    std::filesystem::path path;
};

// No body, the bytes of a string (any bytes, not necessarily text), or a file. Without body a
// POST, PUT or PATCH is sent with "Content-Length: 0", other methods with no length at all.
using HttpBody = std::variant<std::monostate, std::string, HttpFileBody>;

struct HttpRequest {
    // Sent as given ("GET", "POST", "PATCH", ...); must be an HTTP token.
    std::string method{};
    // Absolute http or https URL. Any other scheme fails with `HttpErrorKind::unsupportedScheme`
    // before a connection is made.
    std::string url{};
    // Sent in this order. The session sends no Accept, Expect or Content-Type field of its own: a
    // field of those names is sent only when it is listed here.
    HttpHeaders headers{};
    HttpBody body{};
    // The name of the field in `headers` that carries a credential. It is left out of every request
    // that a redirect sends to another origin (scheme, host or port differ from those of `url`),
    // and of every later request of the same redirect chain.
    std::optional<std::string> credentialHeader{};
    // The most body bytes the reply may have, for a request that fetches more than a record (a
    // download); none: the session's `maxResponseBodyBytes`. A larger reply fails with
    // `responseTooLarge`.
    std::optional<std::size_t> maxResponseBodyBytes{};
};

// True when the two header names are equal when ASCII letter case is ignored.
bool headerNameEquals(std::string_view first, std::string_view second);

// True when `value` holds no CR, LF or NUL byte, so that it cannot end its header line or forge
// another field. Pure; any thread.
bool isSafeHeaderValue(std::string_view value);

// The first field named `name` (letter case ignored), or nullptr. The pointer is valid as long as
// `headers` is not changed.
const HttpHeader* findHeader(const HttpHeaders& headers, std::string_view name);

// Removes every field named `name` (letter case ignored).
void removeHeader(HttpHeaders& headers, std::string_view name);

}  // namespace brisel::cloud
