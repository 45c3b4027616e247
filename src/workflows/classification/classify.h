// Live classification over a board's USB serial port: the board's prediction and score lines become
// "classify" replies until the browser stops it, the connection closes or the board goes quiet.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "frame/websocket.h"
#include "workflows/run_stop_signal.h"

namespace brisel::workflows {

enum class ClassifyError { noDataError };

// "noDataError".
std::string_view toString(ClassifyError error);

// A type without instances: the stop flag and hand-over lock of serial live classification and the
// operation that runs it.
class Classify {
  public:
    Classify() = delete;

    // The stop of serial runs, process-wide: the stop request, the close of a classifying connection
    // and the contamination-threshold request end every run begun before them, also one that is still
    // waiting for its board kind or its port; a later start does not undo it. A run looks at it
    // before each step and at the top of every cycle of its loop. Any thread.
    static inline RunStopSignal wsClosed;

    // Held by the contamination-threshold request around its hand-over wait; never by a run.
    static std::mutex& wsLock();

    // Websocket thread, returns at once: begins a run, makes the close of `ws` stop runs for as long
    // as this one lasts, and carries the run out on a workflow thread: the run's board kind from the
    // cloud, the board's port (opened at its kind's speed; HALDEN_FLAMENCO and HALDEN_I3MICRO first
    // receive `thresholdValue`), then the read loop, which ends after 175 empty cycles in a row (a read
    // that fails, that is not UTF-8 or that brings nothing within its wait). Every end sends one last
    // reply on `ws`: "CONNECTED" with the last prediction (none before the loop) for a stop, "ERROR"
    // with its reason otherwise. With `latencyExists` false, the first ten "LATENCY: " lines are
    // averaged and reported to the cloud. When the workflows that run at once are at their bound,
    // the one reply is "ERROR" with the busy message and no run begins.
    static void classify(std::int64_t runId, std::int64_t modelId, std::shared_ptr<frame::WebSocket> ws,
                         double thresholdValue, bool latencyExists);
};

}  // namespace brisel::workflows
