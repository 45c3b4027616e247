#include "workflows/classification/live_classification_controllers.h"

#include <utility>

#include "common/logger.h"
#include "device/wifi/wifi_mode.h"
#include "device/wifi/wifi_server.h"
#include "frame/feature_replies.h"
#include "frame/replies.h"
#include "workflows/classification/classify.h"
#include "workflows/classification/classify_wifi.h"
#include "workflows/cloud_access.h"

namespace brisel::workflows {
namespace {

using common::logger;

// The threshold written to a HALDEN board when the request carries none.
constexpr double kDefaultThreshold = 0.5;

}  // namespace

LiveClassificationStartRequestController::LiveClassificationStartRequestController(
    std::shared_ptr<frame::WebSocket> ws_, frame::LiveClassificationStartRequest data)
    : ws(std::move(ws_)), liveClassificationStartRequest(std::move(data)) {}

void LiveClassificationStartRequestController::respond() {
    logger().info("Live classification request received");
    const auto& request = liveClassificationStartRequest;
    useCloudOfRequest(request);
    Classify::classify(request.runID, request.modelID, ws, request.thresholdValue.value_or(kDefaultThreshold),
                       request.latencyExists);
}

LiveClassificationStopRequestController::LiveClassificationStopRequestController(
    std::shared_ptr<frame::WebSocket> ws_, frame::LiveClassificationStopRequest data)
    : ws(std::move(ws_)), liveClassificationStopRequest(data) {}

void LiveClassificationStopRequestController::respond() {
    logger().info("Live classification stop request received");
    Classify::wsClosed.stopRuns();
    ClassifyWifi::wsClosed.stopRuns();
}

LiveClassificationWifiStartRequestController::LiveClassificationWifiStartRequestController(
    std::shared_ptr<frame::WebSocket> ws_, frame::LiveClassificationWifiStartRequest data)
    : ws(std::move(ws_)), liveClassificationWifiStartRequest(std::move(data)) {}

void LiveClassificationWifiStartRequestController::respond() {
    logger().info("WIFI: Live classification request received");
    const auto& request = liveClassificationWifiStartRequest;
    useCloudOfRequest(request);
    const auto connection = device::wifiConnection();
    if (connection && connection->modeDetected() != device::WifiMode::classify) {
        frame::BriselClassificationWifiResponse refusal;
        refusal.status = frame::BriselClassificationWifiResponseStatus::error;
        refusal.data = frame::BriselClassificationWifiResponseError{
            "Classification library not detected, please flash model again."};
        ws->write(frame::featureReply(refusal));
        return;
    }
    ClassifyWifi::classify(request.runID, ws);
}

}  // namespace brisel::workflows
