#include "workflows/flash/flash_request_controller.h"

#include <chrono>
#include <thread>
#include <utility>

#include "common/enum_raw_values.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "common/utilities.h"
#include "workflows/cloud_access.h"
#include "workflows/flash/download_library.h"
#include "workflows/flash/flash_manager.h"
#include "workflows/flash/flash_reply.h"
#include "workflows/run_device_kind.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using frame::BriselFlashResponseStatus;
using namespace std::chrono_literals;

// How long a NICLA_SENSE_ME still writes its second image after the tool returned.
constexpr std::chrono::milliseconds kNiclaSecondFlashWait{20000};

constexpr std::string_view kManualResetText =
    "To manually reset the device, disconnect the USB connection (and any battery), then reconnect the "
    "device.";

}  // namespace

FlashRequestController::FlashRequestController(std::shared_ptr<frame::WebSocket> connection,
                                               frame::FlashRequest data)
    : ws(std::move(connection)), flashRequest(std::move(data)) {}

void FlashRequestController::respond() {
    auto& log = common::logger();
    log.info("Flash request received");
    auto place = reserveWorkflow("com.velko.brisel_core.FlashWorkflow");
    if (!place) {
        sendFlashError(*ws, flashRequest.runID, busyMessage());
        return;
    }
    useCloudOfRequest(flashRequest);
    sendFlashReply(*ws, BriselFlashResponseStatus::start);
    log.info("Getting device kind...");
    const WorkflowStart started = runWorkflow(std::move(*place), [ws = ws, request = flashRequest] {
        const std::string run = std::to_string(request.runID);
        auto kind = getRunDeviceKind(request.runID);
        if (!kind) {
            const std::string error = cloud::describe(kind.error());
            common::logger().error("Failed to get device kind for run " + run + " due to error " + error);
            sendFlashError(*ws, request.runID, "Failed to get device kind due to error " + error);
            return;
        }
        common::logger().info("Got device kind " + std::string(common::rawValue(*kind)) + " for run " + run);
        setupFlash(*ws, request, *kind);
    });
    if (started == WorkflowStart::busy) {
        sendFlashError(*ws, flashRequest.runID, busyMessage());
    }
}

void FlashRequestController::setupFlash(frame::WebSocket& ws, const frame::FlashRequest& flashRequest,
                                        common::DeviceKind deviceKind) {
    auto& log = common::logger();
    if (flashRequest.skipFlash.value_or(false)) {
        sendFlashReply(ws, BriselFlashResponseStatus::complete);
        return;
    }
    log.info("Downloading library...");
    auto library = downloadLibrary(flashRequest.runID, flashRequest.libname);
    if (!library) {
        const std::string text =
            "Failed to download device binary due to error " + cloud::describe(library.error());
        log.error(text);
        sendFlashError(ws, flashRequest.runID, text);
        return;
    }
    log.info("Library downloaded");
    log.info("Writing library to disk...");
    common::CPUType cpu = common::CPUType::UNDEFINED;
    auto flashed = FlashManager::flashLibrary(*library, deviceKind, [&] {
        log.info("Library written");
        cpu = common::currentCPU();
        log.info("Current CPU: " + std::string(common::rawValue(cpu)));
        log.info("Attempting flash...");
    });
    if (!flashed) {
        const auto& failure = flashed.error();
        if (failure.stage == LibraryFlashError::Stage::writing) {
            log.error("Failed to download device binary to disk due to error " + failure.description);
            sendFlashError(ws, flashRequest.runID,
                           "Failed to write device binary to disk due to error " + failure.description);
        } else {
            const std::string text = "Failed to flash device due to error " + failure.description;
            log.error(text);
            sendFlashError(ws, flashRequest.runID, text);
        }
        return;
    }
    log.info("Flashed successfully");
    if (deviceKind == common::DeviceKind::NICLA_SENSE_ME) {
        log.info("Giving enough time for the second NICLA_SENSE_ME flashing to finish..");
        std::this_thread::sleep_for(common::scaled(kNiclaSecondFlashWait));
    }
    if (cpu == common::CPUType::APPLE_M1 && deviceKind == common::DeviceKind::HALDEN_FLAMENCO) {
        sendFlashReply(ws, BriselFlashResponseStatus::manual_device_reset, flashRequest.runID,
                       std::string(kManualResetText));
    }
    sendFlashReply(ws, BriselFlashResponseStatus::complete);
}

}  // namespace brisel::workflows
