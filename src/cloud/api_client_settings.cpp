#include "cloud/api_client_settings.h"

namespace brisel::cloud {

std::shared_ptr<HttpSession> sessionOf(const APIClientSettings& settings) {
    if (settings.session) {
        return settings.session;
    }
    // The shared session lives until the process ends: a pointer that owns nothing.
    return std::shared_ptr<HttpSession>(std::shared_ptr<HttpSession>{}, &HttpSession::shared());
}

}  // namespace brisel::cloud
