// The deployment of `brisel_core_listed_origins`: the real service as a deployment that lists its web
// application's origins builds it. Linked before the service library, this definition is the one the
// program uses.
#include "frame/handshake_check.h"

namespace brisel::frame {

std::vector<std::string> deploymentAllowedOrigins() {
    return {"https://studio.example.com", "http://127.0.0.1:8000"};
}

}  // namespace brisel::frame
