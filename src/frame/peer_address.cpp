#include "frame/peer_address.h"

#include <array>

#include "common/ascii.h"
#include "frame/websocket.h"

namespace brisel::frame {

std::string normalisedPeerAddress(std::string_view reported) {
    constexpr std::string_view kMappedPrefix = "::ffff:";
    if (reported.size() <= kMappedPrefix.size()) {
        return std::string(reported);
    }
    if (!common::equalsIgnoringAsciiCase(reported.substr(0, kMappedPrefix.size()), kMappedPrefix)) {
        return std::string(reported);
    }
    const std::string_view rest = reported.substr(kMappedPrefix.size());
    if (rest.find(':') != std::string_view::npos || rest.find('.') == std::string_view::npos) {
        return std::string(reported);
    }
    return std::string(rest);
}

PeerAdmission admissionOf(std::string_view normalisedPeer) {
    constexpr std::array<std::string_view, 3> kLocalPeers = {"127.0.0.1", "localhost", "::1"};
    for (const auto local : kLocalPeers) {
        if (normalisedPeer == local) {
            return PeerAdmission::served;
        }
    }
    return PeerAdmission::refused;
}

}  // namespace brisel::frame
