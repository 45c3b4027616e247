// Live classification over a board's WiFi connection: the prediction texts the WiFi server keeps for
// the connection become "classify_wifi" replies until the browser stops it or its connection closes.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "frame/websocket.h"
#include "workflows/run_stop_signal.h"

namespace brisel::workflows {

enum class ClassifyWifiError { noDataError };

// "noDataError".
std::string_view toString(ClassifyWifiError error);

// A type without instances: the stop flag of WiFi live classification and the operation that runs it.
class ClassifyWifi {
  public:
    ClassifyWifi() = delete;

    // The stop of WiFi runs, process-wide: the stop request and the close of a classifying connection
    // end every run begun before them, also one still waiting for its board kind; a later start does
    // not undo it. Any thread.
    static inline RunStopSignal wsClosed;

    // Websocket thread, returns at once: begins a run, makes the close of `ws` stop runs for as long
    // as this one lasts, takes the WiFi server's connection ("Wifi connection not available" when
    // there is none) and carries the run out on a workflow thread: the run's board kind from the
    // cloud, then the connection's prediction texts, each treated once, waited for as they come. Every
    // end sends one last "classify" reply: "CONNECTED" with the last prediction (none before the loop)
    // for a stop, "ERROR" with its reason otherwise. When the workflows that run at once are at
    // their bound, the one reply is "ERROR" with the busy message and no run begins.
    static void classify(std::int64_t runId, std::shared_ptr<frame::WebSocket> ws);
};

}  // namespace brisel::workflows
