#include "cloud/api_error.h"

#include "common/peer_text.h"

namespace brisel::cloud {

std::string describe(const APIError& error) {
    std::string text = "APIError(statusCode: ";
    if (error.statusCode) {
        text += "Optional(" + std::to_string(*error.statusCode) + ")";
    } else {
        text += "nil";
    }
    text += ", message: " + common::peerTextForLog(error.message, common::PeerTextForm::quoted) + ")";
    return text;
}

}  // namespace brisel::cloud
