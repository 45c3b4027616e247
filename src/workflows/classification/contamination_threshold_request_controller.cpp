#include "workflows/classification/contamination_threshold_request_controller.h"

#include <mutex>
#include <thread>
#include <utility>

#include "cloud/endpoints.h"
#include "cloud/services.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "device/boards/brisel_device.h"
#include "device/samples/port_error.h"
#include "device/serial/usb_discovery.h"
#include "frame/replies.h"
#include "workflows/await_result.h"
#include "workflows/classification/classify.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using common::logger;
using frame::ContaminationThresholdResponseStatus;

// How long a running serial live classification is given to end and free the port.
constexpr std::chrono::milliseconds kHandOverWait{1000};

std::string portFailure(device::PortError::Kind kind) {
    return device::toString(device::PortError{kind, {}});
}

}  // namespace

ContaminationThresholdRequestController::ContaminationThresholdRequestController(
    std::shared_ptr<frame::WebSocket> ws_, frame::ContaminationThresholdRequest data)
    : ws(std::move(ws_)), contaminationThresholdRequest(std::move(data)) {}

void ContaminationThresholdRequestController::respond() {
    logger().info("Contamination threshold request received");
    auto place = reserveWorkflow("com.velko.brisel_core.ContaminationThreshold");
    if (!place) {
        reply(ContaminationThresholdResponseStatus::error);
        return;
    }
    Classify::wsClosed.stopRuns();
    if (runWorkflow(std::move(*place), [self = std::make_shared<ContaminationThresholdRequestController>(
                                            *this)] { self->run(); }) == WorkflowStart::busy) {
        reply(ContaminationThresholdResponseStatus::error);
    }
}

void ContaminationThresholdRequestController::run() {
    {
        std::lock_guard handOver(Classify::wsLock());
        std::this_thread::sleep_for(common::scaled(kHandOverWait));
    }
    const std::int64_t runId = contaminationThresholdRequest.runID;
    auto kind = awaitResult<cloud::DeviceKindResponse>([&](auto done) {
        cloud::RunService::shared().get<cloud::DeviceKindResponse>(
            cloud::RunEndpoint::getDeviceKind(runId).request(), std::move(done));
    });
    if (!kind) {
        logger().error("Failed to get device kind for run " + std::to_string(runId) + " due to error " +
                       cloud::describe(kind.error()));
        reply(ContaminationThresholdResponseStatus::error);
        return;
    }
    logger().info("Got device kind " + std::string(common::rawValue(kind->deviceKind)) + " for run " +
                  std::to_string(runId));
    auto written = setup(kind->deviceKind);
    if (!written) {
        logger().error("Failed to get set contamination threshold due to error " + written.error());
        reply(ContaminationThresholdResponseStatus::failed);
    }
}

tl::expected<void, std::string> ContaminationThresholdRequestController::setup(
    common::DeviceKind deviceKind) {
    auto port = device::USBManager::findPort(deviceKind, device::PortMode::application,
                                             common::scaled(device::USBManager::kFlamencoSettleWait));
    if (!port) {
        return tl::unexpected(portFailure(device::PortError::Kind::deviceNotConnected));
    }
    // The threshold command is understood at 115200 baud whatever the board's kind.
    device::BriselDevice board(std::move(*port), std::nullopt, std::nullopt,
                               common::DeviceKind::SENSOR_TILE_BOX, std::nullopt, -1);
    if (!board.open()) {
        return tl::unexpected(portFailure(device::PortError::Kind::failedToOpen));
    }
    auto threshold = get(contaminationThresholdRequest.modelID);
    if (!threshold) {
        return tl::unexpected(cloud::describe(threshold.error()));
    }
    if (threshold->contaminationThreshold &&
        !board.setContaminationThreshold(*threshold->contaminationThreshold)) {
        return tl::unexpected(portFailure(device::PortError::Kind::failedToWrite));
    }
    board.close();
    reply(ContaminationThresholdResponseStatus::done);
    return {};
}

cloud::APIResult<cloud::ContaminationThresholdDBResponse> ContaminationThresholdRequestController::get(
    std::int64_t modelId) {
    return awaitResult<cloud::ContaminationThresholdDBResponse>([&](auto done) {
        cloud::ModelService::shared().get<cloud::ContaminationThresholdDBResponse>(
            cloud::ModelEndpoint::getContaminationThreshold(modelId).request(), std::move(done));
    });
}

void ContaminationThresholdRequestController::reply(ContaminationThresholdResponseStatus status) {
    frame::ContaminationThresholdResponse response;
    response.status = status;
    ws->write(frame::featureReply(response));
}

}  // namespace brisel::workflows
