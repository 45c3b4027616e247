// One call of the cloud REST interface, and the finished request that it builds.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>
#include <tl/expected.hpp>

#include "cloud/api_error.h"
#include "cloud/authorization.h"
#include "cloud/http/method.h"
#include "cloud/url_request.h"

namespace brisel::cloud {

// Header field names and the texts that the request building uses.
inline constexpr std::string_view kAuthenticationTokenHeader{"Authentication-Token"};
inline constexpr std::string_view kApiKeyHeader{"X-brisel-api-key"};
inline constexpr std::string_view kCredentialNotSetLine{
    "Authorization bearer not set, please check application logic"};

// The credential header of `access`: "Authentication-Token" when an authentication token is set,
// otherwise "X-brisel-api-key" when a cookie is set, otherwise none. A credential holding CR, LF or NUL
// counts as not set (no header injection); an error line then says so, without the value. Logs nothing
// else: the caller decides whether a missing credential deserves a line. Pure apart from that line.
std::optional<HttpHeader> credentialHeader(const CloudAccess& access);

// An endpoint value: the path, method and JSON body of one call. The endpoint families (endpoints.h)
// make them; callers build `request()` and hand it to the REST client. A plain value.
class Endpoint {
  public:
    // `path` begins with "/" and is already percent-encoded; `bodyData` is a JSON object whose members
    // are the body's fields in the order they are written (an empty object: no body).
    Endpoint(std::string path, HTTPMethod method,
             nlohmann::ordered_json bodyData = nlohmann::ordered_json::object());

    const std::string& path() const { return pathText; }
    const HTTPMethod& method() const { return httpMethod; }
    const nlohmann::ordered_json& bodyData() const { return body; }

    // The finished request under the base address and credential of `Authorization::shared()` at this
    // moment (read once, as one consistent pair). See `request(const Authorization&)`.
    tl::expected<URLRequest, APIError> request() const;

    // The finished request under the base address and credential of `authorization`, in this order:
    // - the base address must pass `parseBaseURL`; otherwise nothing is built, an error line is logged
    //   and the APIError (no status code) says that the REST base address is invalid and why;
    // - URL: the base's origin followed by `path()` (a path of the base address is replaced);
    // - credential: "Authentication-Token" when an authentication token is set, otherwise
    //   "X-brisel-api-key" when a cookie is set, otherwise none and the critical line
    //   "Authorization bearer not set, please check application logic"; a credential holding CR, LF or
    //   NUL counts as not set (its value is never logged);
    // - the method, then "Accept: application/json";
    // - with a non-empty body: the body as compact JSON (invalid UTF-8 replaced by U+FFFD, so encoding
    //   never fails) and "Content-Type: application/json".
    // Runs on the caller's thread; logs through the global logger.
    tl::expected<URLRequest, APIError> request(const Authorization& authorization) const;

    // The same under the base address and credential of `access`, a snapshot the caller took: what a
    // caller uses that sends several requests to one cloud.
    tl::expected<URLRequest, APIError> request(const CloudAccess& access) const;

  private:
    std::string pathText;
    HTTPMethod httpMethod;
    nlohmann::ordered_json body;
};

}  // namespace brisel::cloud
