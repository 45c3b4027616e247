// The controller of "flashWifiConfigRequest": the WiFi flash without "skip_flash". Complete, but no
// frame reaches it: the route table does not list its request.
#pragma once

#include <memory>

#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

class FlashWifiConfigRequestController : public frame::BriselAction {
  public:
    FlashWifiConfigRequestController(std::shared_ptr<frame::WebSocket> ws,
                                     frame::FlashWifiConfigRequest data);

    // As FlashWifiRequestController::respond(), always flashing.
    void respond() override;

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::FlashWifiConfigRequest flashWifiConfigRequest;
};

}  // namespace brisel::workflows
