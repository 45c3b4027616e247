// The controller of "saveDataCollectionBluetooth": bytes of a Bluetooth board relayed by the browser.
#pragma once

#include <memory>

#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

class SaveDataCollectionBluetoothRequestController final : public frame::BriselAction {
  public:
    SaveDataCollectionBluetoothRequestController(std::shared_ptr<frame::WebSocket> connection,
                                                 frame::SaveDataCollectionBluetoothRequest data);

    // Appends the request's bytes to the relay buffer (bounded; device/boards/bluetooth_relay.h). No reply,
    // no log line. Websocket thread.
    void respond() override;

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::SaveDataCollectionBluetoothRequest saveDataCollectionBluetoothRequest;
};

}  // namespace brisel::workflows
