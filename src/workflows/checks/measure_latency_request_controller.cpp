#include "workflows/checks/measure_latency_request_controller.h"

#include <utility>
#include <vector>

#include "cloud/endpoints.h"
#include "cloud/services.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "common/utf8.h"
#include "common/utilities.h"
#include "device/boards/brisel_device.h"
#include "device/samples/sample.h"
#include "device/samples/source_line.h"
#include "device/serial/serial_port.h"
#include "device/serial/usb_discovery.h"
#include "frame/replies.h"
#include "workflows/await_result.h"
#include "workflows/board_text.h"
#include "workflows/cloud_access.h"
#include "workflows/flash/download_library.h"
#include "workflows/flash/flash_manager.h"
#include "workflows/serial_line_assembler.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using frame::BriselLatencyResponseStatus;
using Clock = std::chrono::steady_clock;

const std::string kDownloadFailedText = "Failed to download device binary due to error ";
const std::string kFlashFailedText = "Failed to flash device binary due to error ";

// PATCHes the run `runId` with the latency report that ends in `status`.
void patchRunStatus(std::int64_t runId, std::string status, cloud::APIClient::DataCompletion completion) {
    const cloud::Endpoint endpoint = cloud::RunEndpoint::updateRun(
        {.runId = runId, .latencyStatus = 1, .latencyError = false, .status = std::move(status)});
    cloud::RunService::shared().patchData(endpoint.request(), std::move(completion));
}

void sendFinalUpdate(std::int64_t runId, const std::shared_ptr<frame::WebSocket>& ws) {
    common::logger().info("Sending final update to API...");
    patchRunStatus(runId, "DONE", [runId, ws](cloud::APIResult<std::string> result) {
        if (!result) {
            const std::string error = cloud::describe(result.error());
            common::logger().error("Failed to notify API of final status due to error: " + error);
            sendLatencyReply(*ws, BriselLatencyResponseStatus::error,
                             "Failed to notify API of final status due to error " + error);
            return;
        }
        common::logger().info("Final update sent to API");
        sendLatencyReply(*ws, BriselLatencyResponseStatus::done, "Latency measured:" + std::to_string(runId));
    });
}

void reportLatencyFailure(frame::WebSocket& ws, const cloud::APIError& failure) {
    const std::string error = cloud::describe(failure);
    common::logger().error("Failed to notify API of latency due to error: " + error);
    sendLatencyReply(ws, BriselLatencyResponseStatus::error,
                     "Failed to notify API of latency due to error " + error);
}

std::string deviceKindName(common::DeviceKind kind) {
    return std::string{common::rawValue(kind)};
}

std::string modelKindName(common::ModelKind kind) {
    return std::string{common::rawValue(kind)};
}

// `Clock::now() - start`, in milliseconds.
std::chrono::milliseconds elapsedSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Sleeps `pause`, cut to what is left of `limit` after `elapsed`.
void pauseWithin(std::chrono::milliseconds pause, std::chrono::milliseconds elapsed,
                 std::chrono::milliseconds limit) {
    const auto left = limit - elapsed;
    common::crossPlatformSleep(std::chrono::duration<double>(std::min(pause, left)).count());
}

}  // namespace

void sendLatencyReply(frame::WebSocket& ws, frame::BriselLatencyResponseStatus status, std::string message) {
    ws.write(frame::BriselResponse<frame::BriselLatencyResponse>{
        .data = {.status = status, .data = {.message = std::move(message)}}});
}

std::optional<std::int64_t> meanLatencyAfterFirst(std::span<const std::int64_t> values) {
    if (values.size() < 2) {
        return std::nullopt;
    }
    std::int64_t sum = 0;
    for (const std::int64_t value : values.subspan(1)) {
        if (__builtin_add_overflow(sum, value, &sum)) {
            return std::nullopt;
        }
    }
    return sum / static_cast<std::int64_t>(values.size() - 1);
}

MeasureLatencyRequestController::MeasureLatencyRequestController(std::shared_ptr<frame::WebSocket> connection,
                                                                 frame::MeasureLatencyRequest request)
    : ws(std::move(connection)), measureLatencyRequest(std::move(request)) {}

void MeasureLatencyRequestController::send(BriselLatencyResponseStatus status, std::string message) const {
    sendLatencyReply(*ws, status, std::move(message));
}

void MeasureLatencyRequestController::respond() {
    common::logger().info("Measure latency request received");
    auto place = reserveWorkflow("com.velko.brisel_core.MeasureLatency");
    if (!place) {
        send(BriselLatencyResponseStatus::error, busyMessage());
        return;
    }
    useCloudOfRequest(measureLatencyRequest);
    if (!allowCPU()) {
        return;
    }
    send(BriselLatencyResponseStatus::info, "Connecting to REST API...");
    if (runWorkflow(std::move(*place), [self = shared_from_this()] { self->measure(); }) ==
        WorkflowStart::busy) {
        send(BriselLatencyResponseStatus::error, busyMessage());
    }
}

bool MeasureLatencyRequestController::allowCPU() const {
    const common::CPUType cpu = common::currentCPU();
    common::logger().info("Current CPU: " + std::string{common::rawValue(cpu)});
    if (cpu != common::CPUType::APPLE_M1) {
        return true;
    }
    send(BriselLatencyResponseStatus::error,
         "Latency calculation not supported for M1 Macbook. Attempted for run " +
             std::to_string(measureLatencyRequest.runID) + ".");
    return false;
}

bool MeasureLatencyRequestController::isDeviceConnected(common::DeviceKind deviceKind) {
    const auto settle = common::scaled(device::USBManager::kFlamencoSettleWait);
    if (device::USBManager::findPort(deviceKind, device::PortMode::application, settle)) {
        return true;
    }
    return common::bootloaderVid(deviceKind) && common::bootloaderPid(deviceKind) &&
           device::USBManager::findPort(deviceKind, device::PortMode::bootloader, settle);
}

std::optional<cloud::Model> MeasureLatencyRequestController::getModelFromBuild(
    const cloud::BuildResponse& buildResponse, std::int64_t modelId) {
    for (const cloud::Model& model : buildResponse.models) {
        if (model.id == modelId) {
            return model;
        }
    }
    return std::nullopt;
}

std::optional<std::string> MeasureLatencyRequestController::getModelLibraryKeyFromBuild(
    const cloud::BuildResponse& buildResponse, const cloud::Model& model) {
    if (buildResponse.status != cloud::BuildStatus::DONE &&
        buildResponse.status != cloud::BuildStatus::SUCCESS) {
        return std::nullopt;
    }
    const std::string prefix = std::string{common::modelSlug(model.kind)} + "-";
    for (const cloud::ModelResult& result : buildResponse.results) {
        if (result.key.find(prefix) != std::string::npos && result.key.find(".bin") != std::string::npos) {
            return result.key;
        }
    }
    return std::nullopt;
}

void MeasureLatencyRequestController::measure() const {
    auto& log = common::logger();
    const std::int64_t runId = measureLatencyRequest.runID;
    const std::int64_t modelId = measureLatencyRequest.modelID;

    log.info("Getting device kind...");
    const auto kindResult = awaitResult<cloud::DeviceKindResponse>([&](auto done) {
        cloud::RunService::shared().get<cloud::DeviceKindResponse>(
            cloud::RunEndpoint::getDeviceKind(runId).request(), std::move(done));
    });
    if (!kindResult) {
        log.error("Failed to retrieve device kind due to error: " + cloud::describe(kindResult.error()));
        send(BriselLatencyResponseStatus::error, "Failed to get device kind from API");
        return;
    }
    const common::DeviceKind deviceKind = kindResult->deviceKind;
    log.info("Got device kind " + deviceKindName(deviceKind));

    if (!isDeviceConnected(deviceKind)) {
        log.error("Device not connected");
        send(BriselLatencyResponseStatus::error, "Device not connected");
        return;
    }

    log.info("Getting build...");
    const auto build = awaitResult<cloud::BuildResponse>([&](auto done) {
        cloud::BuildService::shared().get<cloud::BuildResponse>(
            cloud::BuildEndpoint::getBuild(runId).request(), std::move(done));
    });
    if (!build) {
        log.error("Failed to retrieve build due to error: " + cloud::describe(build.error()));
        send(BriselLatencyResponseStatus::error, "Failed to get build from API");
        return;
    }
    log.info("Got build with id " + std::to_string(build->id));

    const std::optional<cloud::Model> model = getModelFromBuild(*build, modelId);
    if (!model) {
        log.info("No model with id " + std::to_string(modelId) + " found in build " + std::to_string(runId));
        send(BriselLatencyResponseStatus::error,
             "Failed to find model " + std::to_string(modelId) + " for build " + std::to_string(runId));
        return;
    }
    const std::string kindName = modelKindName(model->kind);
    const std::optional<std::string> key = getModelLibraryKeyFromBuild(*build, *model);
    if (!key) {
        const std::string text = "No library found for " + kindName + " model, skipping latency measurement.";
        log.warning(text);
        send(BriselLatencyResponseStatus::warning, text);
        return;
    }

    const std::string flashing = "Flashing library for " + kindName;
    log.info(flashing);
    send(BriselLatencyResponseStatus::info, flashing);
    if (!downloadAndFlash(runId, *key, deviceKind)) {
        return;
    }
    log.info("Library flashed to device");
    common::crossPlatformSleep(std::chrono::duration<double>(common::scaled(kSettleAfterFlash)).count());
    log.info("Measuring latency from " + std::to_string(kWantedValues) + " samples...");

    const std::optional<std::int64_t> latency = measureLatency(deviceKind);
    if (!latency) {
        const std::string text =
            "Unable to read latency value for " + kindName + " - model id: " + std::to_string(model->id);
        log.error(text);
        send(BriselLatencyResponseStatus::error, text);
        return;
    }
    log.info("Successfully measured latency for " + kindName);
    log.info("Notifying API of latency...");
    updateLatency(build->id, model->id, *latency, ws);
}

bool MeasureLatencyRequestController::downloadAndFlash(std::int64_t runId, const std::string& key,
                                                       common::DeviceKind deviceKind) const {
    auto& log = common::logger();
    const auto fail = [&](const std::string& text) {
        log.error(text);
        send(BriselLatencyResponseStatus::error, text);
        return false;
    };
    log.info("Downloading device library...");
    const cloud::APIResult<std::string> library = downloadLibrary(runId, key);
    if (!library) {
        return fail(kDownloadFailedText + cloud::describe(library.error()));
    }
    const auto flashed = FlashManager::flashLibrary(*library, deviceKind, [&log] {
        log.info("Device library downloaded");
        log.info("Flashing library to device...");
    });
    if (!flashed) {
        const bool writing = flashed.error().stage == LibraryFlashError::Stage::writing;
        return fail((writing ? kDownloadFailedText : kFlashFailedText) + flashed.error().description);
    }
    return true;
}

std::optional<std::int64_t> MeasureLatencyRequestController::measureLatency(
    common::DeviceKind deviceKind) const {
    auto& log = common::logger();
    const std::string kind = deviceKindName(deviceKind);
    log.info("Finding device of type " + kind);
    std::optional<device::USBDevice> port = device::USBManager::findPort(
        deviceKind, device::PortMode::application, common::scaled(device::USBManager::kFlamencoSettleWait));
    if (!port) {
        log.info("Failed to find device of type " + kind);
        send(BriselLatencyResponseStatus::error, "Device not connected");
        return std::nullopt;
    }
    log.info("Found device of type " + kind);
    const Clock::time_point start = Clock::now();
    log.info("Opening device...");
    if (auto opened = port->open(device::boardBaudRate(deviceKind), device::StopBits::stopBits1,
                                 device::ParityType::none, device::DataBitsSize::bits8);
        !opened) {
        log.error("Failed to open device with error " + device::toString(opened.error()) + " " +
                  device::sourceLine());
        return std::nullopt;
    }
    log.info("Device opened");

    const std::chrono::milliseconds limit = common::scaled(kReadingLimit);
    const std::chrono::milliseconds pause = common::scaled(kPauseAfterFailedRead);
    std::vector<std::uint8_t> buffer(device::Sample::maxSampleBytes());
    std::vector<std::int64_t> values;
    SerialLineAssembler lines;  // the firmware may write a line in several pieces
    std::chrono::milliseconds elapsed{0};
    do {
        elapsed = elapsedSince(start);
        log.info("Reading sample " + std::to_string(values.size() + 1) + "...");
        // Never wait past the limit: a board that prints nothing ends the measurement in time.
        const auto wait = std::max(limit - elapsed, std::chrono::milliseconds{0});
        const auto read = port->readBytes(buffer, wait);
        if (!read) {
            log.warning("Failed to read data, sleeping");
            lines.clear();
            pauseWithin(pause, elapsedSince(start), limit);
        } else {
            const std::string_view text(reinterpret_cast<const char*>(buffer.data()), *read);
            if (!common::isValidUtf8(text)) {
                log.warning("Failed to decode incoming string as utf8");
                lines.clear();
                pauseWithin(pause, elapsedSince(start), limit);
            } else {
                for (const std::string& line : lines.feed(text)) {
                    const LatencyLine latency = readLatencyLine(line);
                    if (latency.kind == LatencyLineKind::malformed) {
                        log.warning("Malformed value received, ignoring");
                    } else if (latency.kind == LatencyLineKind::value) {
                        values.push_back(latency.value);
                    }
                }
            }
        }
        elapsed = elapsedSince(start);
    } while (values.size() < kWantedValues && elapsed < limit);
    port->close();
    return meanLatencyAfterFirst(values);
}

void MeasureLatencyRequestController::updateLatency(std::int64_t runId, std::int64_t modelId,
                                                    std::int64_t averageLatency,
                                                    const std::shared_ptr<frame::WebSocket>& ws) {
    const cloud::Endpoint endpoint = cloud::ModelEndpoint::updateModel(modelId, averageLatency);
    cloud::ModelService::shared().patchData(
        endpoint.request(), [runId, ws](cloud::APIResult<std::string> result) {
            if (!result) {
                reportLatencyFailure(*ws, result.error());
                sendFinalUpdate(runId, ws);
                return;
            }
            common::logger().info("API notified of latency");
            sendLatencyReply(*ws, BriselLatencyResponseStatus::success, "Latency measured");
            common::logger().info("Updating run...");
            patchRunStatus(runId, "SUCCESS", [runId, ws](cloud::APIResult<std::string> runResult) {
                if (!runResult) {
                    reportLatencyFailure(*ws, runResult.error());
                } else {
                    common::logger().info("Run updated");
                }
                sendFinalUpdate(runId, ws);
            });
        });
}

MeasureLatencyWifiRequestController::MeasureLatencyWifiRequestController(
    std::shared_ptr<frame::WebSocket> connection, frame::MeasureLatencyWifiRequest request)
    : ws(std::move(connection)), measureLatencyWifiRequest(std::move(request)) {}

void MeasureLatencyWifiRequestController::respond() {
    common::logger().info("Measure latency wifi request received");
    sendLatencyReply(*ws, BriselLatencyResponseStatus::error,
                     "Latency calculation currently not supported for wifi projects.:" +
                         std::to_string(measureLatencyWifiRequest.runID));
}

}  // namespace brisel::workflows
