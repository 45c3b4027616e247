// "contaminationThresholdRequest": writes an anomaly model's contamination threshold, as stored in the
// cloud, to the board on the USB port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <tl/expected.hpp>

#include "cloud/api_client.h"
#include "cloud/response_records.h"
#include "common/device_kind.h"
#include "frame/brisel_action.h"
#include "frame/feature_replies.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

class ContaminationThresholdRequestController : public frame::BriselAction {
  public:
    ContaminationThresholdRequestController(std::shared_ptr<frame::WebSocket> ws,
                                            frame::ContaminationThresholdRequest data);

    // Websocket thread, returns at once: logs the request and sets the stop flag of serial live
    // classification. A workflow thread then holds `Classify::wsLock()` for the scaled 1.0 s hand-over,
    // reads the run's board kind and runs `setup`; it answers one "contamination_threshold" reply:
    // "DONE", "ERROR" (no board kind) or "FAILED". The request's host, port and token are not used:
    // the cloud is the one an earlier request set. When the workflows that run at once are at their
    // bound, the one reply is "ERROR" and no run is stopped.
    void respond() override;

    // Writes the model's threshold to the board of `deviceKind` and answers "DONE". Errors (the caller
    // answers "FAILED"): no port for the kind, the port does not open, the threshold read fails, the
    // board did not take the whole command. The board is opened at 115200 baud whatever its kind.
    // Workflow thread.
    tl::expected<void, std::string> setup(common::DeviceKind deviceKind);

    // Reads the model's threshold record from the cloud, blocking until the call ends. Workflow thread.
    static cloud::APIResult<cloud::ContaminationThresholdDBResponse> get(std::int64_t modelId);

  private:
    void reply(frame::ContaminationThresholdResponseStatus status);
    // The part of respond() that runs on the workflow thread.
    void run();

    std::shared_ptr<frame::WebSocket> ws;
    frame::ContaminationThresholdRequest contaminationThresholdRequest;
};

}  // namespace brisel::workflows
