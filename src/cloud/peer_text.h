// Text received from a peer, made fit for one log line.
#pragma once

#include <string>
#include <string_view>

namespace brisel::cloud {

// At most the first 2048 characters of `text`, quoted as by `quotedForLog`; a longer text is cut at a
// character boundary and followed by "... (<n> bytes in all)". Pure; any thread.
std::string peerTextForLog(std::string_view text);

}  // namespace brisel::cloud
