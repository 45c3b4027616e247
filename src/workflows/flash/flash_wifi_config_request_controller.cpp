#include "workflows/flash/flash_wifi_config_request_controller.h"

#include <utility>

#include "workflows/flash/flash_reply.h"
#include "workflows/flash/wifi_flash.h"

namespace brisel::workflows {

FlashWifiConfigRequestController::FlashWifiConfigRequestController(
    std::shared_ptr<frame::WebSocket> connection, frame::FlashWifiConfigRequest data)
    : ws(std::move(connection)), flashWifiConfigRequest(std::move(data)) {}

void FlashWifiConfigRequestController::respond() {
    const auto& request = flashWifiConfigRequest;
    wifiFlashResponse(ws, {request.host, request.scheme, request.port, request.authToken, request.runID},
                      [ws = ws, request](common::DeviceKind) {
                          if (wifiFlash(*ws, request.runID, request.libname)) {
                              sendFlashReply(*ws, frame::BriselFlashResponseStatus::complete);
                          }
                      });
}

}  // namespace brisel::workflows
