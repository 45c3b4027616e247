#include "cloud/peer_text.h"

#include <cstddef>

#include "cloud/log_text.h"
#include "common/utf8.h"

namespace brisel::cloud {

namespace {
constexpr std::size_t kMaxLoggedCharacters = 2048;
}

std::string peerTextForLog(std::string_view text) {
    const std::size_t end = common::byteOffsetAfterCharacters(text, kMaxLoggedCharacters);
    if (end >= text.size()) {
        return quotedForLog(text);
    }
    return quotedForLog(text.substr(0, end)) + "... (" + std::to_string(text.size()) + " bytes in all)";
}

}  // namespace brisel::cloud
