#include "workflows/classification/classify.h"

#include <chrono>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cloud/endpoints.h"
#include "cloud/services.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "common/utf8.h"
#include "device/boards/brisel_device.h"
#include "device/samples/sample.h"
#include "device/serial/serial_port.h"
#include "device/serial/usb_discovery.h"
#include "workflows/await_result.h"
#include "workflows/checks/latency_collector.h"
#include "workflows/checks/measure_latency_request_controller.h"
#include "workflows/classification/classification_replies.h"
#include "workflows/classification/prediction_tracker.h"
#include "workflows/connection_close_watch.h"
#include "workflows/serial_line_assembler.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using common::logger;

// The longest a read waits for bytes, so that a stop is seen at once however quiet the board; a read
// that brings nothing within it is an empty cycle, so a silent board counts as gone after about 9 s.
// Not shortened by the time scale of tests: boards that print once a second must stay alive there.
constexpr std::chrono::milliseconds kReadWait{50};
// Pause after a cycle with data (1/1280 s) and after an empty cycle (1/640 s).
constexpr std::chrono::nanoseconds kPauseAfterData{781250};
constexpr std::chrono::nanoseconds kPauseAfterEmptyCycle{1562500};
// Empty cycles in a row after which the board counts as gone.
constexpr int kEmptyCyclesBeforeGone = 175;

struct SerialRun {
    std::int64_t runId = 0;
    std::int64_t modelId = 0;
    double thresholdValue = 0;
    bool latencyExists = false;
};

bool takesThreshold(common::DeviceKind kind) {
    return kind == common::DeviceKind::HALDEN_FLAMENCO || kind == common::DeviceKind::HALDEN_I3MICRO;
}

ClassificationEnd failure(const std::string& text) {
    logger().error(text);
    return ClassificationEnd::failed(text);
}

// The end of a run whose board sent nothing usable for kEmptyCyclesBeforeGone cycles in a row.
ClassificationEnd boardWentQuiet(device::USBDevice& port) {
    logger().error("Received empty data from device for " + std::to_string(kEmptyCyclesBeforeGone) +
                   " cycles, throwing error back to browser");
    port.close();
    return failure("Classification ended with error " + std::string(toString(ClassifyError::noDataError)));
}

// The read loop on the open `port`; returns the run's last reply.
ClassificationEnd readPredictions(const SerialRun& run, device::USBDevice& port,
                                  const std::shared_ptr<frame::WebSocket>& ws, RunStopSignal::Watch stop) {
    PredictionTracker tracker(PredictionTracker::Link::serial);
    LatencyCollector latencies(run.latencyExists ? LatencyCollector::State::done
                                                 : LatencyCollector::State::collecting);
    SerialLineAssembler lines;
    std::vector<std::uint8_t> buffer(device::Sample::maxSampleBytes());
    int emptyCycles = 0;
    for (;;) {
        if (stop.stopRequested()) {
            port.close();
            logger().debug("Sending prediction");
            return ClassificationEnd::stopped(tracker.lastMessage());
        }
        auto read = port.readBytes(buffer, kReadWait);
        if (read && *read == 0) {
            // Nothing arrived within the wait, which was this empty cycle's pause. A line the board
            // was in the middle of goes on in its next bytes.
            if (++emptyCycles == kEmptyCyclesBeforeGone) {
                return boardWentQuiet(port);
            }
            continue;
        }
        const std::string_view bytes =
            read ? std::string_view(reinterpret_cast<const char*>(buffer.data()), *read) : std::string_view();
        if (!read || !common::isValidUtf8(bytes)) {
            logger().warning("Got no data from device");
            lines.clear();
            std::this_thread::sleep_for(kPauseAfterEmptyCycle);
            if (++emptyCycles == kEmptyCyclesBeforeGone) {
                return boardWentQuiet(port);
            }
            continue;
        }
        emptyCycles = 0;
        for (const auto& line : lines.feed(bytes)) {
            if (auto average = latencies.treat(line)) {
                MeasureLatencyRequestController::updateLatency(run.runId, run.modelId, *average, ws);
            }
            if (auto message = tracker.treat(line)) {
                sendClassification(*ws, *message);
            }
        }
        std::this_thread::sleep_for(kPauseAfterData);
    }
}

// The end of a run stopped before its loop began: there is no prediction to repeat.
ClassificationEnd stoppedBeforeLoop() {
    logger().debug("Sending prediction");
    return ClassificationEnd::stopped({});
}

// The run after `classify` has returned, on its workflow thread; returns its last reply.
ClassificationEnd runSerialClassification(const SerialRun& run, const std::shared_ptr<frame::WebSocket>& ws,
                                          RunStopSignal::Watch stop) {
    auto kind = awaitResult<cloud::DeviceKindResponse>([&](auto done) {
        cloud::RunService::shared().get<cloud::DeviceKindResponse>(
            cloud::RunEndpoint::getDeviceKind(run.runId).request(), std::move(done));
    });
    if (!kind) {
        const std::string error = cloud::describe(kind.error());
        logger().error("Failed to get device kind for run " + std::to_string(run.runId) + " due to error " +
                       error);
        return ClassificationEnd::failed("Failed to get device kind due to error " + error);
    }
    if (stop.stopRequested()) {
        return stoppedBeforeLoop();
    }
    const common::DeviceKind deviceKind = kind->deviceKind;
    auto port = device::USBManager::findPort(deviceKind, device::PortMode::application,
                                             common::scaled(device::USBManager::kFlamencoSettleWait));
    if (!port) {
        return failure("Device " + std::string(common::rawValue(deviceKind)) + " not connected");
    }
    if (stop.stopRequested()) {
        return stoppedBeforeLoop();  // the port is left to the run that stopped this one
    }
    auto opened = port->open(device::boardBaudRate(deviceKind), device::StopBits::stopBits1,
                             device::ParityType::none, device::DataBitsSize::bits8);
    if (!opened) {
        return failure("Classification ended with error " + device::toString(opened.error()));
    }
    if (takesThreshold(deviceKind)) {
        (void)device::writeContaminationThreshold(*port, run.thresholdValue);  // failures are logged
    }
    return readPredictions(run, *port, ws, stop);
}

}  // namespace

std::string_view toString(ClassifyError error) {
    switch (error) {
        case ClassifyError::noDataError:
            return "noDataError";
    }
    return "noDataError";
}

std::mutex& Classify::wsLock() {
    static std::mutex lock;
    return lock;
}

void Classify::classify(std::int64_t runId, std::int64_t modelId, std::shared_ptr<frame::WebSocket> ws,
                        double thresholdValue, bool latencyExists) {
    auto place = reserveWorkflow("com.velko.brisel_core.Classify");
    if (!place) {
        sendClassificationFailure(*ws, busyMessage());
        return;
    }
    // Begun before the close watch: a connection that has closed already stops this run too.
    const RunStopSignal::Watch stop = wsClosed.beginRun();
    auto closeWatch = std::make_shared<ConnectionCloseWatch>(ws, [] { wsClosed.stopRuns(); });
    const SerialRun run{runId, modelId, thresholdValue, latencyExists};
    const WorkflowStart started = runWorkflow(std::move(*place), [run, ws, closeWatch, stop]() mutable {
        const ClassificationEnd end = runSerialClassification(run, ws, stop);
        // Gone before the last reply: a browser that has it may close its connection without
        // stopping another run.
        closeWatch.reset();
        sendClassificationEnd(*ws, end);
    });
    if (started == WorkflowStart::busy) {
        closeWatch.reset();
        sendClassificationFailure(*ws, busyMessage());
    }
}

}  // namespace brisel::workflows
