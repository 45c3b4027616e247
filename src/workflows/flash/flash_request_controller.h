// The controller of "flashRequest": a model library downloaded from the cloud and flashed onto the
// board on its USB port with the board's tool.
#pragma once

#include <memory>

#include "common/device_kind.h"
#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

class FlashRequestController : public frame::BriselAction {
  public:
    FlashRequestController(std::shared_ptr<frame::WebSocket> ws, frame::FlashRequest data);

    // Websocket thread: sets the request's cloud, sends "START" and starts the flash workflow on a
    // thread of its own (board kind, download, library.bin, tool, "COMPLETE" or one "ERROR"). When
    // the workflows that run at once are at their bound, the one reply is "ERROR" with the busy
    // message and the cloud in force stays.
    void respond() override;

    // On the workflow thread, once the board kind is known. Public for the workflow only.
    static void setupFlash(frame::WebSocket& ws, const frame::FlashRequest& flashRequest,
                           common::DeviceKind deviceKind);

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::FlashRequest flashRequest;
};

}  // namespace brisel::workflows
