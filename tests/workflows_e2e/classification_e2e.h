// What the live-classification and contamination-threshold end-to-end tests share: the browser's
// requests, the replies they wait for, and boards whose output is fixed text.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/firmware_personality.h"
#include "support/service_process.h"
#include "support/websocket_test_client.h"

namespace brisel::test {

inline constexpr std::chrono::milliseconds kReplyWait{10000};

// A classification firmware that sends `texts` in turn, one write each, `period` apart (the first
// while the service is still setting its port up, so tests wait for a later one too).
inline FirmwarePersonality printing(std::vector<std::string> texts,
                                    std::chrono::milliseconds period = std::chrono::milliseconds(1000)) {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::classification;
    firmware.texts = std::move(texts);
    firmware.period = period;
    return firmware;
}

inline std::string serialStart(const std::string& cloudFields, int runId, bool latencyExists = true,
                               const std::string& threshold = "") {
    return R"({"liveClassificationStartRequest": true, "command": "start", )" + cloudFields +
           R"(, "run_id": )" + std::to_string(runId) + R"(, "model_id": 3, "latency_exists": )" +
           (latencyExists ? "true" : "false") +
           (threshold.empty() ? "" : R"(, "threshold_value": )" + threshold) + "}";
}

inline std::string wifiStart(const std::string& cloudFields, int runId) {
    return R"({"liveClassificationWifiStartRequest": true, "command": "start", )" + cloudFields +
           R"(, "run_id": )" + std::to_string(runId) + "}";
}

inline constexpr const char* kStop = R"({"liveClassificationStopRequest": true})";

inline std::string thresholdRequest(int runId, int modelId) {
    return R"({"contaminationThresholdRequest": true, "host": "localhost", "auth_token": "t", "port": "1", )"
           R"("run_id": )" +
           std::to_string(runId) + R"(, "model_id": )" + std::to_string(modelId) + "}";
}

inline std::string deviceKindBody(const std::string& kind) {
    return R"({"device_kind": ")" + kind + R"("})";
}

// The feature payload ("data" of the envelope) of the next reply, or null when none comes in time.
// Notices of WiFi boards coming and going are skipped.
inline nlohmann::json nextFeature(test_support::WebSocketTestClient& client,
                                  std::chrono::milliseconds wait = kReplyWait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto message = client.receive(std::max(left, std::chrono::milliseconds(0)));
        if (!message) {
            return nullptr;
        }
        auto json = nlohmann::json::parse(message->payload, nullptr, false);
        if (!json.is_object() || json.value("command", "") != "desktopClientResponse" ||
            !json["data"].is_object()) {
            return nlohmann::json{{"unexpected", message->payload}};
        }
        if (json["data"].value("command", "") != "check_device_connection") {
            return json["data"];
        }
    }
}

// The feature payload of the next reply whose feature status is `status`, skipping others; null when
// none comes in time.
inline nlohmann::json nextFeatureWithStatus(test_support::WebSocketTestClient& client,
                                            const std::string& status,
                                            std::chrono::milliseconds wait = kReplyWait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return nullptr;
        }
        nlohmann::json feature = nextFeature(client, left);
        if (feature.is_null() || feature.value("status", "") == status) {
            return feature;
        }
    }
}

// A "classify"/"classify_wifi" payload with `status` and the message `message`.
inline nlohmann::json classifyPayload(const std::string& command, const std::string& status,
                                      nlohmann::json message) {
    return {{"command", command}, {"status", status}, {"data", {{"message", std::move(message)}}}};
}

inline nlohmann::json prediction(nlohmann::json message) {
    return classifyPayload("classify", "CONNECTED", std::move(message));
}

inline nlohmann::json classifyError(const std::string& text) {
    return classifyPayload("classify", "ERROR", text);
}

}  // namespace brisel::test
