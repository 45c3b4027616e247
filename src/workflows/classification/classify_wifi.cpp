#include "workflows/classification/classify_wifi.h"

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "cloud/endpoints.h"
#include "cloud/services.h"
#include "common/logger.h"
#include "device/wifi/wifi_device.h"
#include "device/wifi/wifi_prediction_mailbox.h"
#include "device/wifi/wifi_server.h"
#include "workflows/await_result.h"
#include "workflows/board_text.h"
#include "workflows/classification/classification_replies.h"
#include "workflows/classification/prediction_tracker.h"
#include "workflows/connection_close_watch.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using common::logger;

// The longest a cycle waits for the board's next text, so that a stop is answered within it.
constexpr std::chrono::milliseconds kPredictionWait{40};
// The pause of a cycle that finds no connection, twice (1/1280 s).
constexpr std::chrono::nanoseconds kCyclePause{781250};
// Cycles without a connection after which the board counts as gone.
constexpr int kCyclesWithoutConnection = 20;

ClassificationEnd endWithError(ClassifyWifiError error) {
    const std::string text(toString(error));
    logger().error("WIFI: Classification ended with error " + text);
    return ClassificationEnd::failed("Classification ended with error " + text);
}

// The run after `classify` has returned, on its workflow thread; returns its last reply.
ClassificationEnd runWifiClassification(std::int64_t runId, frame::WebSocket& ws, RunStopSignal::Watch stop) {
    auto kind = awaitResult<cloud::DeviceKindResponse>([&](auto done) {
        cloud::RunService::shared().get<cloud::DeviceKindResponse>(
            cloud::RunEndpoint::getDeviceKind(runId).request(), std::move(done));
    });
    if (!kind) {
        const std::string error = cloud::describe(kind.error());
        logger().error("WIFI: Failed to get device kind for run " + std::to_string(runId) + " due to error " +
                       error);
        return ClassificationEnd::failed("Failed to get device kind due to error " + error);
    }
    if (stop.stopRequested()) {
        logger().debug("WIFI: Sending prediction");
        return ClassificationEnd::stopped({});  // stopped before the loop: no prediction to repeat
    }
    device::WifiDevice board(device::getWifiServer());
    if (!board.deviceOpen()) {
        const std::string kindName(common::rawValue(kind->deviceKind));
        logger().error("WIFI: Wifi device " + kindName + " not connected");
        return ClassificationEnd::failed("Wifi device " + kindName + " not connected");
    }
    PredictionTracker tracker(PredictionTracker::Link::wifi);
    int cyclesWithoutConnection = 0;
    for (;;) {
        if (stop.stopRequested()) {
            logger().debug("WIFI: Sending prediction");
            return ClassificationEnd::stopped(tracker.lastMessage());
        }
        // Looked up afresh each cycle: a connection that failed or ended is no longer held.
        if (!board.isConnectionAlive()) {
            logger().warning("WIFI: Got no data from device: nil");
            std::this_thread::sleep_for(2 * kCyclePause);
            if (++cyclesWithoutConnection == kCyclesWithoutConnection) {
                logger().error("WIFI: Received no data from device for " +
                               std::to_string(kCyclesWithoutConnection) +
                               " cycles, throwing error back to browser");
                return endWithError(ClassifyWifiError::noDataError);
            }
            continue;
        }
        // The receive side signals each text it stores, and the end of the connection empties the
        // mailbox, so the wait ends as soon as there is something to treat.
        const std::string text = board.wifiServerConnection()->waitForCurrentPrediction(kPredictionWait);
        if (text.empty()) {
            return endWithError(ClassifyWifiError::noDataError);  // the connection has stopped
        }
        if (text == device::PredictionMailbox::kPending) {
            continue;
        }
        for (const auto line : splitBoardLines(text)) {
            if (auto message = tracker.treat(line)) {
                sendWifiClassification(ws, *message);
            }
        }
    }
}

}  // namespace

std::string_view toString(ClassifyWifiError error) {
    switch (error) {
        case ClassifyWifiError::noDataError:
            return "noDataError";
    }
    return "noDataError";
}

void ClassifyWifi::classify(std::int64_t runId, std::shared_ptr<frame::WebSocket> ws) {
    auto place = reserveWorkflow("com.velko.brisel_core.ClassifyWifi");
    if (!place) {
        sendClassificationFailure(*ws, busyMessage());
        return;
    }
    // Begun before the close watch: a connection that has closed already stops this run too.
    const RunStopSignal::Watch stop = wsClosed.beginRun();
    auto closeWatch = std::make_shared<ConnectionCloseWatch>(ws, [] { wsClosed.stopRuns(); });
    if (!device::wifiConnection()) {
        logger().error("WIFI: Wifi connection doesn't exist");
        closeWatch.reset();
        sendClassificationFailure(*ws, "Wifi connection not available");
        return;
    }
    const WorkflowStart started = runWorkflow(std::move(*place), [runId, ws, closeWatch, stop]() mutable {
        const ClassificationEnd end = runWifiClassification(runId, *ws, stop);
        // Gone before the last reply, as in the serial run.
        closeWatch.reset();
        sendClassificationEnd(*ws, end);
    });
    if (started == WorkflowStart::busy) {
        closeWatch.reset();
        sendClassificationFailure(*ws, busyMessage());
    }
}

}  // namespace brisel::workflows
