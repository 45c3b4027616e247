// The replies of live classification, serial and WiFi.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/json_codec.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// The message of one prediction: "class", "score", ("startTimer",) "0", "1", ...
using PredictionMessage = std::map<std::string, common::AnyEncodable>;

// The one last reply of a run: "classify" CONNECTED with the last prediction message when it was
// stopped, "classify" ERROR with the reason when it failed.
struct [[nodiscard]] ClassificationEnd {
    std::optional<std::string> failure;
    PredictionMessage lastMessage;

    static ClassificationEnd stopped(PredictionMessage last) { return {std::nullopt, std::move(last)}; }
    static ClassificationEnd failed(std::string reason) { return {std::move(reason), {}}; }
};

// Sends `end` as its reply. Any thread.
void sendClassificationEnd(frame::WebSocket& ws, const ClassificationEnd& end);

// "classify" CONNECTED carrying `message` (a prediction, or the last one when a run stops). Any thread.
void sendClassification(frame::WebSocket& ws, const PredictionMessage& message);
// "classify" ERROR carrying `reason`. Any thread.
void sendClassificationFailure(frame::WebSocket& ws, std::string reason);
// "classify_wifi" CONNECTED carrying `message`. Any thread.
void sendWifiClassification(frame::WebSocket& ws, const PredictionMessage& message);

}  // namespace brisel::workflows
