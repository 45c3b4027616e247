// The device check: is a board of a kind reachable over WiFi, over USB, or over USB in its bootloader?
#pragma once

#include <map>
#include <memory>
#include <string>

#include "common/device_kind.h"
#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

class CheckDeviceConnectionRequestController : public frame::BriselAction {
  public:
    CheckDeviceConnectionRequestController(std::shared_ptr<frame::WebSocket> ws,
                                           frame::CheckDeviceConnectionRequest request);

    // Logs "WIFI: check device connection request received" and answers one "check_device_connection"
    // reply with checkDeviceConnection(). The port search runs on a workflow thread, since finding a
    // HALDEN_FLAMENCO port blocks for its settle wait; the websocket thread never waits for it. When
    // the workflows that run at once are at their bound, the reply is "ERROR" with {"message": the
    // busy message}.
    void respond() override;

    // {"wifi": "true"/"false", "usb": "true"/"false"} and, only when no port with the kind's own ids
    // is found but one with its bootloader ids is, "usb_bootloader": "true". "wifi" is "true" whenever
    // the WiFi server holds a board connection, whatever the kind. May block for the scaled
    // HALDEN_FLAMENCO settle wait. Any thread but the websocket thread.
    static std::map<std::string, std::string> checkDeviceConnection(common::DeviceKind deviceKind);

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::CheckDeviceConnectionRequest checkDeviceConnectionRequest;
};

}  // namespace brisel::workflows
