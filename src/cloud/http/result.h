// The outcome of one HTTP request: the final reply as far as it arrived, and a transport error if any.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cloud/http/request.h"

namespace brisel::cloud {

// Why a request did not end with a complete reply.
enum class HttpErrorKind {
    invalidRequest,       // malformed URL, method or header field; nothing was sent
    unsupportedScheme,    // the URL or a redirect target is neither http nor https; nothing was sent there
    fileUnreadable,       // the body file could not be opened or read, or it shrank while being sent
    hostNotFound,         // the host name did not resolve
    couldNotConnect,      // the connection was refused or could not be made
    timedOut,             // nothing moved for the session's idle timeout
    connectionLost,       // the connection closed or failed before the reply was complete
    tlsFailed,            // the secure connection could not be set up or verified
    tooManyRedirects,     // the redirect chain was longer than the session allows
    redirectNotFollowed,  // a redirect would have sent the request again as a GET without its body
    responseTooLarge,     // the reply's header or body exceeded the session's limits
    cancelled,            // the session was shut down before the reply was complete
    transferFailed,       // any other failure of the transfer
};

// The kind's name as written in messages ("couldNotConnect", ...).
std::string_view httpErrorKindName(HttpErrorKind kind);

struct HttpError {
    HttpErrorKind kind;
    // What went wrong and what the user can do about it, fit for a log line.
    std::string message;

    friend bool operator==(const HttpError&, const HttpError&) = default;
};

// "<kind name>: <message>", the text form of an error in log lines (the message escaped and cut as
// common::peerTextForLog does: it may quote what a server sent).
std::string describe(const HttpError& error);

struct HttpResult {
    // The status of the last reply whose status line arrived (after redirects), or absent.
    std::optional<int> statusCode;
    // The header fields of that reply, in the order received.
    HttpHeaders headers;
    // The body bytes of that reply as far as they arrived (complete only without `error`).
    std::string body;
    // Set when the request did not end with a complete reply. A reply cut short after its status
    // line has both `statusCode` and `error`.
    std::optional<HttpError> error;
    // True when the whole request body left for the server in the chain's last request (a followed
    // redirect always sends the body again, so a request with a body never ends on a hop without it;
    // also true without a body). False, for example, when the server replied or closed before taking
    // all of a file.
    bool wholeBodySent = false;
};

}  // namespace brisel::cloud
