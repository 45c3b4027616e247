// Routes the websocket library's own log lines into the service log.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/logger.h"

namespace brisel::frame {

// One library line as the service logs it.
struct BridgedLogLine {
    common::LogLevels level;
    std::string message;
};

// The service line for a library line of `libraryLevel`: "libwebsockets: " + the line without its
// trailing line break, at critical (LLL_ERR), warning (LLL_WARN), notice (LLL_NOTICE) or debug (LLL_INFO,
// LLL_DEBUG); any other level gives debug "UNKNOWN LOG LEVEL: <level>, message: <prefixed line>".
// None for an absent line or one that holds "WSI_TOK". Pure.
std::optional<BridgedLogLine> bridgedLogLine(int libraryLevel, const char* line);

// Hands the library levels that the service logger writes (LLL_ERR, LLL_WARN, LLL_NOTICE) to it through
// `bridgedLogLine`; the library formats no line of the other levels. Call before the first library
// context is created; process-wide.
void routeLibraryLogToService();

}  // namespace brisel::frame
