#include "workflows/cloud_access.h"

#include <utility>

#include "cloud/authorization.h"

namespace brisel::workflows {

void useCloudOfRequest(std::string_view scheme, std::string_view host, std::string_view port,
                       std::optional<std::string> authToken) {
    cloud::Authorization::shared().setSharedBaseURLAndCookie(cloud::baseURLFromParts(scheme, host, port),
                                                             std::move(authToken));
}

void useCredentialOfRequest(std::optional<std::string> authToken) {
    cloud::Authorization::shared().setCookie(std::move(authToken));
}

}  // namespace brisel::workflows
