// Which peers the websocket serves: only those on this machine.
#pragma once

#include <string>
#include <string_view>

namespace brisel::frame {

enum class PeerAdmission;

// The peer text as the library reports it, with an IPv4-mapped IPv6 address ("::ffff:127.0.0.1", as a
// dual-stack listener reports IPv4 peers) written as the plain IPv4 address. Pure.
std::string normalisedPeerAddress(std::string_view reported);

// `served` for the peers "127.0.0.1", "localhost" and "::1" (exact text of a normalised address),
// `refused` for every other. Pure.
PeerAdmission admissionOf(std::string_view normalisedPeer);

}  // namespace brisel::frame
