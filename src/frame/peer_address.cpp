#include "frame/peer_address.h"

#include <array>

#include "frame/websocket.h"

namespace brisel::frame {

std::string normalisedPeerAddress(std::string_view reported) {
    constexpr std::string_view kMappedPrefix = "::ffff:";
    if (reported.size() <= kMappedPrefix.size()) {
        return std::string(reported);
    }
    for (std::size_t i = 0; i < kMappedPrefix.size(); ++i) {
        const char c = reported[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != kMappedPrefix[i]) {
            return std::string(reported);
        }
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
