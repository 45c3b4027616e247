#include "workflows/checks/check_device_connection_request_controller.h"

#include <utility>

#include "common/logger.h"
#include "common/time_scale.h"
#include "device/serial/usb_discovery.h"
#include "device/wifi/wifi_device.h"
#include "frame/feature_replies.h"
#include "frame/replies.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {

CheckDeviceConnectionRequestController::CheckDeviceConnectionRequestController(
    std::shared_ptr<frame::WebSocket> connection, frame::CheckDeviceConnectionRequest request)
    : ws(std::move(connection)), checkDeviceConnectionRequest(std::move(request)) {}

void CheckDeviceConnectionRequestController::respond() {
    common::logger().info("WIFI: check device connection request received");
    const WorkflowStart started =
        runWorkflow("com.velko.brisel_core.CheckDeviceConnection",
                    [ws = ws, deviceKind = checkDeviceConnectionRequest.deviceKind] {
                        ws->write(frame::BriselResponse<frame::BriselStringResponse>{
                            .data = {.command = frame::BriselStringCommand::checkDeviceConnection,
                                     .status = frame::BriselStringResponseStatus::done,
                                     .data = checkDeviceConnection(deviceKind)}});
                    });
    if (started == WorkflowStart::busy) {
        ws->write(frame::BriselResponse<frame::BriselStringResponse>{
            .data = {.command = frame::BriselStringCommand::checkDeviceConnection,
                     .status = frame::BriselStringResponseStatus::error,
                     .data = {{"message", busyMessage()}}}});
    }
}

std::map<std::string, std::string> CheckDeviceConnectionRequestController::checkDeviceConnection(
    common::DeviceKind deviceKind) {
    std::map<std::string, std::string> found{{"wifi", "false"}, {"usb", "false"}};
    if (device::WifiDevice().deviceOpen()) {
        found["wifi"] = "true";
    }
    const auto settle = common::scaled(device::USBManager::kFlamencoSettleWait);
    if (device::USBManager::findPort(deviceKind, device::PortMode::application, settle)) {
        found["usb"] = "true";
    } else if (device::USBManager::findPort(deviceKind, device::PortMode::bootloader, settle)) {
        found["usb_bootloader"] = "true";
    }
    return found;
}

}  // namespace brisel::workflows
