#include "workflows/collection/save_data_collection_bluetooth_request_controller.h"

#include <utility>

#include "device/boards/bluetooth_relay.h"

namespace brisel::workflows {

SaveDataCollectionBluetoothRequestController::SaveDataCollectionBluetoothRequestController(
    std::shared_ptr<frame::WebSocket> connection, frame::SaveDataCollectionBluetoothRequest data)
    : ws(std::move(connection)), saveDataCollectionBluetoothRequest(std::move(data)) {}

void SaveDataCollectionBluetoothRequestController::respond() {
    device::relayBluetoothBytes(saveDataCollectionBluetoothRequest.data);
}

}  // namespace brisel::workflows
