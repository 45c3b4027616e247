#include "workflows/flash/flash_wifi_request_controller.h"

#include <utility>

#include "workflows/flash/flash_reply.h"
#include "workflows/flash/wifi_flash.h"

namespace brisel::workflows {

FlashWifiRequestController::FlashWifiRequestController(std::shared_ptr<frame::WebSocket> connection,
                                                       frame::FlashWifiRequest data)
    : ws(std::move(connection)), flashWifiRequest(std::move(data)) {}

void FlashWifiRequestController::respond() {
    const auto& request = flashWifiRequest;
    wifiFlashResponse(ws, {request.host, request.scheme, request.port, request.authToken, request.runID},
                      [ws = ws, request](common::DeviceKind) {
                          if (request.skipFlash.value_or(false)) {
                              sendFlashReply(*ws, frame::BriselFlashResponseStatus::complete);
                              return;
                          }
                          if (wifiFlash(*ws, request.runID, request.libname)) {
                              sendFlashReply(*ws, frame::BriselFlashResponseStatus::complete);
                          }
                      });
}

}  // namespace brisel::workflows
