// Which opening handshakes the websocket serves: those addressed to this machine by its loopback name,
// from a web application origin that the deployment lists (every origin when it lists none).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisel::frame {

class HandshakeCheck {
  public:
    // `allowedOrigins` as the browser sends them ("https://studio.example.com"); empty serves every
    // origin and a handshake without one.
    explicit HandshakeCheck(std::vector<std::string> allowedOrigins);

    // The check of this build: the origins of the deployment it was configured for.
    static HandshakeCheck deployment();

    // Why a handshake with the header values `host` and `origin` (none when absent) to a server
    // listening on `port` is refused, for the log line; none when it is served. The Host must be
    // "localhost", "127.0.0.1" or "[::1]", alone or followed by ":" and `port`: a page of another
    // name that resolves to this machine is refused. Pure; any thread.
    std::optional<std::string> refusal(std::optional<std::string_view> host,
                                       std::optional<std::string_view> origin, std::uint16_t port) const;

  private:
    std::vector<std::string> origins;
};

// The origins of the deployment this build was configured for (the CMake cache value
// BRISEL_ALLOWED_ORIGINS); empty when none were listed.
std::vector<std::string> deploymentAllowedOrigins();

}  // namespace brisel::frame
