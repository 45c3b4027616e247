#include "workflows/flash/wifi_flash.h"

#include <utility>

#include "cloud/api_error.h"
#include "common/enum_raw_values.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "device/wifi/wifi_device.h"
#include "device/wifi/wifi_firmware_transfer.h"
#include "device/wifi/wifi_server.h"
#include "workflows/cloud_access.h"
#include "workflows/flash/download_library.h"
#include "workflows/flash/flash_reply.h"
#include "workflows/run_device_kind.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

constexpr std::string_view kResetManuallyText =
    "Failed to flash device, please reset the device manually and try again.";
constexpr std::string_view kDataCollectionLibrary = "datacollection.bin";

// The wait after a transfer: takes the first connection that shows a mode (see wifiFlash).
bool awaitBoardInMode(frame::WebSocket& ws, std::int64_t runID, const std::string& libname) {
    auto& log = common::logger();
    const auto server = device::getWifiServer();
    const auto reconnectDeadline = std::chrono::steady_clock::now() + common::scaled(kWifiReconnectLimit);
    log.info("Waiting for device to reconnect...");
    for (;;) {
        // A host that keeps connecting without a mode never holds the wait past its deadline.
        const auto connection = server && std::chrono::steady_clock::now() < reconnectDeadline
                                    ? server->waitForConnection(reconnectDeadline)
                                    : nullptr;
        if (!connection) {
            log.info("WIFI: failed to get wifi connection, ask user to manually reset device");
            sendFlashError(
                ws, runID,
                "Failed to flash device due to reset timeout. Please manually reset the device and "
                "try again.");
            return false;
        }
        const auto mode =
            connection->waitForMode(std::chrono::steady_clock::now() + common::scaled(kWifiModeLimit));
        if (mode == device::WifiMode::none && connection->hasEnded()) {
            // Something else took the board's place (or the board came and went): wait for the next.
            if (connection->linesLogged()) {
                log.info("WIFI: connection " + std::to_string(connection->id()) +
                         " ended without showing a mode; still waiting for the device to reconnect");
            }
            continue;
        }
        if (mode == device::WifiMode::none) {
            log.info("WIFI: no mode detected from wifi connection");
            sendFlashError(ws, runID, std::string(kResetManuallyText));
            return false;
        }
        const auto wanted =
            libname == kDataCollectionLibrary ? device::WifiMode::datacollect : device::WifiMode::classify;
        if (mode != wanted) {
            sendFlashError(ws, runID, std::string(kResetManuallyText));
            return false;
        }
        return true;
    }
}

}  // namespace

void wifiFlashResponse(const std::shared_ptr<frame::WebSocket>& ws, const WifiFlashTarget& target,
                       std::function<void(common::DeviceKind)> setupFlash) {
    auto& log = common::logger();
    log.info("WIFI: Flash request received");
    auto place = reserveWorkflow("com.velko.brisel_core.WifiFlashWorkflow");
    if (!place) {
        sendFlashError(*ws, target.runID, busyMessage());
        return;
    }
    useCloudOfRequest(target.scheme, target.host, target.port, target.authToken);
    sendFlashReply(*ws, frame::BriselFlashResponseStatus::start);
    log.info("WIFI: Getting device kind...");
    const WorkflowStart started =
        runWorkflow(std::move(*place), [ws, runID = target.runID, setupFlash = std::move(setupFlash)] {
            const std::string run = std::to_string(runID);
            auto kind = getRunDeviceKind(runID);
            if (!kind) {
                const std::string error = cloud::describe(kind.error());
                common::logger().error("WIFI: Failed to get device kind for run " + run + " due to error " +
                                       error);
                sendFlashError(*ws, runID, "Failed to get device kind due to error " + error);
                return;
            }
            common::logger().info("WIFI: Got device kind " + std::string(common::rawValue(*kind)) +
                                  " for run " + run);
            setupFlash(*kind);
        });
    if (started == WorkflowStart::busy) {
        sendFlashError(*ws, target.runID, busyMessage());
    }
}

bool wifiFlash(frame::WebSocket& ws, std::int64_t runID, const std::string& libname) {
    auto& log = common::logger();
    auto fail = [&](std::string_view message) {
        sendFlashError(ws, runID, std::string(message));
        return false;
    };
    log.info("WIFI: Downloading library...");
    auto library = downloadLibrary(runID, libname);
    if (!library) {
        const std::string error = cloud::describe(library.error());
        log.error("WIFI: Failed to download device binary due to error " + error);
        return fail("Failed to download device binary due to error " + error);
    }
    log.info("WIFI: Library downloaded");
    log.info("WIFI: Attempting flash...");
    device::WifiDevice board;
    if (!device::wifiConnectionExists()) {
        return fail("Failed to flash device, connection is not active.");
    }
    if (!board.isConnectionAlive() || !board.wifiServerConnection()) {
        log.info("wifiServerConnection is nil");
        return fail(kResetManuallyText);
    }
    const auto& image = *library;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(image.data()),
                                              image.size());
    if (!device::flashLibrary(*board.wifiServerConnection(), bytes)) {
        return fail(kResetManuallyText);
    }
    return awaitBoardInMode(ws, runID, libname);
}

}  // namespace brisel::workflows
