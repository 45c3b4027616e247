#include "cloud/api_error.h"

#include "cloud/log_text.h"

namespace brisel::cloud {

std::string describe(const APIError& error) {
    std::string text = "APIError(statusCode: ";
    if (error.statusCode) {
        text += "Optional(" + std::to_string(*error.statusCode) + ")";
    } else {
        text += "nil";
    }
    text += ", message: " + quotedForLog(error.message) + ")";
    return text;
}

}  // namespace brisel::cloud
