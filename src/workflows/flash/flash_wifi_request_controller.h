// The controller of "flashWifiRequest": a model library flashed onto the board on the WiFi connection.
#pragma once

#include <memory>

#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

class FlashWifiRequestController : public frame::BriselAction {
  public:
    FlashWifiRequestController(std::shared_ptr<frame::WebSocket> ws, frame::FlashWifiRequest data);

    // Websocket thread: "START", then on a workflow thread the board kind, "COMPLETE" at once for
    // "skip_flash", otherwise the WiFi flash and "COMPLETE" when it succeeded.
    void respond() override;

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::FlashWifiRequest flashWifiRequest;
};

}  // namespace brisel::workflows
