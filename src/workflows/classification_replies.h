// The replies of live classification, serial and WiFi.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "common/json_codec.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// The message of one prediction: "class", "score", ("startTimer",) "0", "1", ...
using PredictionMessage = std::map<std::string, common::AnyEncodable>;

// "classify" CONNECTED carrying `message` (a prediction, or the last one when a run stops). Any thread.
void sendClassification(frame::WebSocket& ws, const PredictionMessage& message);
// "classify" ERROR carrying `reason`. Any thread.
void sendClassificationFailure(frame::WebSocket& ws, std::string reason);
// "classify_wifi" CONNECTED carrying `message`. Any thread.
void sendWifiClassification(frame::WebSocket& ws, const PredictionMessage& message);

}  // namespace brisel::workflows
