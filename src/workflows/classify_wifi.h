// Live classification over a board's WiFi connection: the prediction texts the WiFi server keeps for
// the connection become "classify_wifi" replies until the browser stops it or its connection closes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "frame/websocket.h"

namespace brisel::workflows {

enum class ClassifyWifiError { noDataError };

// "noDataError".
std::string_view toString(ClassifyWifiError error);

// A type without instances: the stop flag of WiFi live classification and the operation that runs it.
class ClassifyWifi {
  public:
    ClassifyWifi() = delete;

    // The stop flag, process-wide: cleared by a start, set by the stop request and by the close of a
    // classifying connection. Any thread.
    static inline std::atomic<bool> wsClosed{false};

    // Websocket thread, returns at once: clears the stop flag, makes the close of `ws` set it for as
    // long as the run lasts, takes the WiFi server's connection ("Wifi connection not available" when
    // there is none) and starts the run on a workflow thread: the run's board kind from the cloud,
    // then the poll of the connection's prediction texts. Every end sends one last "classify" reply:
    // "CONNECTED" with the last prediction for a stop, "ERROR" with its reason otherwise.
    static void classify(std::int64_t runId, std::shared_ptr<frame::WebSocket> ws);
};

}  // namespace brisel::workflows
