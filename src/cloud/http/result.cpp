#include "cloud/http/result.h"

#include "common/peer_text.h"

namespace brisel::cloud {

std::string_view httpErrorKindName(HttpErrorKind kind) {
    switch (kind) {
        case HttpErrorKind::invalidRequest:
            return "invalidRequest";
        case HttpErrorKind::unsupportedScheme:
            return "unsupportedScheme";
        case HttpErrorKind::fileUnreadable:
            return "fileUnreadable";
        case HttpErrorKind::hostNotFound:
            return "hostNotFound";
        case HttpErrorKind::couldNotConnect:
            return "couldNotConnect";
        case HttpErrorKind::timedOut:
            return "timedOut";
        case HttpErrorKind::connectionLost:
            return "connectionLost";
        case HttpErrorKind::tlsFailed:
            return "tlsFailed";
        case HttpErrorKind::tooManyRedirects:
            return "tooManyRedirects";
        case HttpErrorKind::redirectNotFollowed:
            return "redirectNotFollowed";
        case HttpErrorKind::responseTooLarge:
            return "responseTooLarge";
        case HttpErrorKind::cancelled:
            return "cancelled";
        case HttpErrorKind::transferFailed:
            return "transferFailed";
    }
    return "unknown";
}

std::string describe(const HttpError& error) {
    return std::string(httpErrorKindName(error.kind)) + ": " + common::peerTextForLog(error.message);
}

}  // namespace brisel::cloud
