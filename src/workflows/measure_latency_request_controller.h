// The latency measurement: "measure_latency" flashes a model's library onto a USB board, reads the
// latency lines that the firmware prints and reports their mean to the cloud and the browser.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "cloud/build_records.h"
#include "common/device_kind.h"
#include "frame/brisel_action.h"
#include "frame/feature_replies.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// The controller of "measure_latency". Every reply is a "latency" payload on `ws`.
class MeasureLatencyRequestController {
  public:
    // Reports one measured latency: PATCHes the model with {"latency": averageLatency}; when that
    // succeeds, sends "SUCCESS" "Latency measured" and PATCHes the run with status "SUCCESS"; then
    // (after the model's failure, or once the "SUCCESS" update has ended either way) PATCHes the run
    // with status "DONE" and sends "DONE" "Latency measured:<runId>". Each failed PATCH is logged and
    // answered by one "ERROR" latency reply. The final update waits for the "SUCCESS" one, so that a
    // late retry of that call can never leave the run "SUCCESS". Returns at once; the calls and
    // replies follow on REST threads. Any thread.
    static void updateLatency(std::int64_t runId, std::int64_t modelId, std::int64_t averageLatency,
                              const std::shared_ptr<frame::WebSocket>& ws);
};

// Sends the latency reply `status` with `message` on `ws`, inside the desktopClientResponse envelope.
// Any thread.
void sendLatencyReply(frame::WebSocket& ws, frame::BriselLatencyResponseStatus status, std::string message);

}  // namespace brisel::workflows
