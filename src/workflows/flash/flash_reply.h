// The "flash" replies of the flash workflows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frame/feature_replies.h"
#include "frame/replies.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// Sends a "flash" payload with `status` and, when given, "run_id" and "message" (absent values are left
// out, so a reply without both has "data": {}). Any thread.
inline void sendFlashReply(frame::WebSocket& ws, frame::BriselFlashResponseStatus status,
                           std::optional<std::int64_t> runId = std::nullopt,
                           std::optional<std::string> message = std::nullopt) {
    ws.write(frame::featureReply(frame::BriselFlashResponse{
        "flash", status, frame::BriselFlashResponseData{runId, std::move(message)}}));
}

// "ERROR" with the run id and `message`.
inline void sendFlashError(frame::WebSocket& ws, std::int64_t runId, std::string message) {
    sendFlashReply(ws, frame::BriselFlashResponseStatus::error, runId, std::move(message));
}

}  // namespace brisel::workflows
