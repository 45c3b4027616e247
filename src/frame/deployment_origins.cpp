// The deployment's origin allow-list, alone in its file: a test build of the service links an object
// of its own that defines deploymentAllowedOrigins(), and the linker then never takes this one from
// the library.
#include <sstream>

#include "frame/handshake_check.h"

#ifndef BRISEL_ALLOWED_ORIGINS
#error "BRISEL_ALLOWED_ORIGINS is set by src/CMakeLists.txt"
#endif

namespace brisel::frame {

std::vector<std::string> deploymentAllowedOrigins() {
    // Origins separated by spaces; CMake checked each of them.
    std::istringstream listed(BRISEL_ALLOWED_ORIGINS);
    std::vector<std::string> origins;
    for (std::string origin; listed >> origin;) {
        origins.push_back(origin);
    }
    return origins;
}

}  // namespace brisel::frame
