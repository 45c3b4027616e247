#include "cloud/endpoint.h"

#include <optional>
#include <string_view>
#include <utility>

#include "cloud/base_url.h"
#include "cloud/http/request.h"
#include "common/logger.h"
#include "common/peer_text.h"

namespace brisel::cloud {

namespace {

using common::logger;

std::string encodeBody(const nlohmann::ordered_json& body) {
    // Replacing invalid UTF-8 keeps the body whole; non-finite numbers are written as null.
    return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::optional<HttpHeader> credentialHeader(const CloudAccess& access) {
    bool refusedAny = false;
    if (access.authenticationToken) {
        if (isSafeHeaderValue(*access.authenticationToken)) {
            return HttpHeader{std::string{kAuthenticationTokenHeader}, *access.authenticationToken};
        }
        refusedAny = true;
    }
    if (access.cookie) {
        if (isSafeHeaderValue(*access.cookie)) {
            return HttpHeader{std::string{kApiKeyHeader}, *access.cookie};
        }
        refusedAny = true;
    }
    if (refusedAny) {
        logger().error(
            "The REST credential holds a line break or NUL character and is not sent; "
            "sign in to the cloud again in the browser");
    }
    return std::nullopt;
}

Endpoint::Endpoint(std::string path, HTTPMethod method, nlohmann::ordered_json bodyData)
    : pathText(std::move(path)), httpMethod(std::move(method)), body(std::move(bodyData)) {}

tl::expected<URLRequest, APIError> Endpoint::request() const {
    return request(Authorization::shared());
}

tl::expected<URLRequest, APIError> Endpoint::request(const Authorization& authorization) const {
    return request(authorization.snapshot());
}

tl::expected<URLRequest, APIError> Endpoint::request(const CloudAccess& access) const {
    const auto base = parseBaseURL(access.baseURL);
    if (!base) {
        logger().error("The REST base address " +
                       common::peerTextForLog(access.baseURL, common::PeerTextForm::quoted) +
                       " is invalid: " + base.error() +
                       "; nothing was sent. Open the page again in the browser so that it sends a valid "
                       "address");
        return tl::make_unexpected(
            APIError{std::nullopt, "The REST base address is invalid: " + base.error()});
    }

    URLRequest request;
    request.url = base->origin() + pathText;
    if (auto credential = credentialHeader(access)) {
        request.headers.push_back(std::move(*credential));
    } else {
        logger().critical(kCredentialNotSetLine);
    }
    request.method = httpMethod;
    request.headers.push_back(HttpHeader{"Accept", "application/json"});
    if (body.is_object() && !body.empty()) {
        request.body = encodeBody(body);
        request.headers.push_back(HttpHeader{"Content-Type", "application/json"});
    }
    return request;
}

}  // namespace brisel::cloud
