#include "frame/handshake_check.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/peer_text.h"

namespace brisel::frame {
namespace {

// Header values come from any web page.
std::string quotedForLog(std::string_view value) {
    return common::peerTextForLog(value, common::PeerTextForm::quoted);
}

bool isLoopbackHost(std::string_view host, std::uint16_t port) {
    const std::string portSuffix = ":" + std::to_string(port);
    if (host.size() > portSuffix.size() && host.substr(host.size() - portSuffix.size()) == portSuffix) {
        host.remove_suffix(portSuffix.size());
    }
    constexpr std::array<std::string_view, 3> kLoopbackNames = {"localhost", "127.0.0.1", "[::1]"};
    return std::find(kLoopbackNames.begin(), kLoopbackNames.end(), host) != kLoopbackNames.end();
}

}  // namespace

HandshakeCheck::HandshakeCheck(std::vector<std::string> allowedOrigins)
    : origins(std::move(allowedOrigins)) {}

HandshakeCheck HandshakeCheck::deployment() {
    return HandshakeCheck(deploymentAllowedOrigins());
}

std::optional<std::string> HandshakeCheck::refusal(std::optional<std::string_view> host,
                                                   std::optional<std::string_view> origin,
                                                   std::uint16_t port) const {
    if (!host) {
        return "the request names no Host";
    }
    if (!isLoopbackHost(*host, port)) {
        return "Host " + quotedForLog(*host) + " is not a loopback name of this machine";
    }
    if (origins.empty()) {
        return std::nullopt;
    }
    if (!origin) {
        return "the request names no Origin";
    }
    if (std::find(origins.begin(), origins.end(), *origin) == origins.end()) {
        return "Origin " + quotedForLog(*origin) + " is not one of the web application's origins";
    }
    return std::nullopt;
}

}  // namespace brisel::frame
