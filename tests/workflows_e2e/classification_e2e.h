// What the live-classification and contamination-threshold end-to-end tests share: the browser's
// requests, the replies they wait for, and boards whose output is fixed text.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/fake_cloud.h"
#include "support/firmware_personality.h"
#include "support/websocket_test_client.h"

namespace brisel::test {

using nlohmann::json;
inline constexpr std::chrono::milliseconds kReplyWait{10000};

// A classification firmware that sends `texts` in turn, one write each, `period` apart (the first
// while the service is still setting its port up, so tests wait for a later one too).
inline FirmwarePersonality printing(std::vector<std::string> texts,
                                    std::chrono::milliseconds period = std::chrono::milliseconds(1000)) {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::classification;
    firmware.texts = std::move(texts);
    firmware.period = period;
    firmware.fault = firmware.texts.empty() ? BoardFault::silence : BoardFault::none;
    return firmware;
}

// The fake cloud names `kind` as the board of run `runId`.
inline void runsOn(FakeCloud& cloud, int runId, const std::string& kind) {
    cloud.reply("GET", "/api/run/" + std::to_string(runId) + "/device_kind",
                ScriptedReply::json(200, R"({"device_kind": ")" + kind + R"("})"));
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

// The feature payload ("data" of the envelope) of the next reply, or null when none comes in time.
// Notices of WiFi boards coming and going are skipped.
inline json nextFeature(test_support::WebSocketTestClient& client,
                        std::chrono::milliseconds wait = kReplyWait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto message = client.receive(std::max(left, std::chrono::milliseconds(0)));
        if (!message) {
            return nullptr;
        }
        auto reply = json::parse(message->payload, nullptr, false);
        if (!reply.is_object() || !reply["data"].is_object()) {
            return json{{"unexpected", message->payload}};
        }
        if (reply["data"].value("command", "") != "check_device_connection") {
            return reply["data"];
        }
    }
}

// A "classify" or "classify_wifi" payload.
inline json classifyPayload(const std::string& command, const std::string& status, json message) {
    return {{"command", command}, {"status", status}, {"data", {{"message", std::move(message)}}}};
}
inline json prediction(json message) {
    return classifyPayload("classify", "CONNECTED", std::move(message));
}
inline json classifyError(const std::string& text) {
    return classifyPayload("classify", "ERROR", text);
}

}  // namespace brisel::test
