// What the workflows take from a browser request to reach the cloud.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brisel::workflows {

// Makes the request's cloud the one in force for the process: SHARED_BASE_URL becomes
// scheme "://" host ":" port (the host "localhost" written as "127.0.0.1") and the credential the
// request's auth token, in one step. Any thread.
void useCloudOfRequest(std::string_view scheme, std::string_view host, std::string_view port,
                       std::optional<std::string> authToken);

// The same, from a decoded request with the fields `scheme`, `host`, `port` and `authToken`.
template <class Request>
void useCloudOfRequest(const Request& request) {
    useCloudOfRequest(request.scheme, request.host, request.port,
                      std::optional<std::string>(request.authToken));
}

// Makes the request's auth token the credential in force, leaving the base address as it is.
void useCredentialOfRequest(std::optional<std::string> authToken);

}  // namespace brisel::workflows
