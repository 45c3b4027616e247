// The error of a REST call: what reaches a caller's completion when a cloud request fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brisel::cloud {

struct APIError {
    // The HTTP status of the failed reply, the status code the cloud put in its error body, -1 when no
    // HTTP reply came at all, or absent when the failure happened before or after the exchange.
    std::optional<std::int64_t> statusCode;
    // What went wrong, in words fit to show to a user or to log.
    std::string message;

    friend bool operator==(const APIError&, const APIError&) = default;
};

// The printed form that callers put into their log lines:
//     APIError(statusCode: Optional(404), message: "Not found")
//     APIError(statusCode: nil, message: "Request method must be get, not POST")
// The message is quoted as common::peerTextForLog quotes text (quotes, backslashes and control
// characters escaped, a message beyond its bound cut), so that one error is always one log line of
// bounded length. Pure; any thread.
std::string describe(const APIError& error);

}  // namespace brisel::cloud
