#include "frame/library_log_bridge.h"

#include <libwebsockets.h>

#include "common/peer_text.h"

namespace brisel::frame {
namespace {

void wsLog(int level, const char* line) {
    if (auto bridged = bridgedLogLine(level, line)) {
        common::logger().log(bridged->level, bridged->message);
    }
}

}  // namespace

std::optional<BridgedLogLine> bridgedLogLine(int libraryLevel, const char* line) {
    if (line == nullptr) {
        return std::nullopt;
    }
    std::string_view text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    if (text.find("WSI_TOK") != std::string_view::npos) {
        return std::nullopt;
    }
    std::string message = "libwebsockets: " + common::peerTextForLog(text);
    switch (libraryLevel) {
        case LLL_ERR:
            return BridgedLogLine{common::LogLevels::critical, std::move(message)};
        case LLL_WARN:
            return BridgedLogLine{common::LogLevels::warning, std::move(message)};
        case LLL_NOTICE:
            return BridgedLogLine{common::LogLevels::notice, std::move(message)};
        case LLL_INFO:
        case LLL_DEBUG:
            return BridgedLogLine{common::LogLevels::debug, std::move(message)};
        default:
            return BridgedLogLine{
                common::LogLevels::debug,
                "UNKNOWN LOG LEVEL: " + std::to_string(libraryLevel) + ", message: " + message};
    }
}

void routeLibraryLogToService() {
    // Only the levels that can reach the log: the others are bridged to debug, below the service
    // logger's threshold. The library formats every enabled line in one static buffer, and
    // lws_cancel_service(), called by senders on other threads, logs at debug level; with that level
    // enabled the two threads would write the buffer at once.
    constexpr int kWrittenLevels = LLL_ERR | LLL_WARN | LLL_NOTICE;
    lws_set_log_level(kWrittenLevels, wsLog);
}

}  // namespace brisel::frame
