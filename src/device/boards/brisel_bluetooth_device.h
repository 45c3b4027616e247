// A board whose bytes the browser reads over Bluetooth and relays to the service
// ("saveDataCollectionBluetooth" requests fill the process-wide relay buffer, bluetooth_relay.h).
#pragma once

#include "device/boards/brisel_device_base.h"

namespace brisel::device {

class BriselBluetoothDevice final : public BriselDeviceBase {
  public:
    using BriselDeviceBase::BriselDeviceBase;
    ~BriselBluetoothDevice() override;

    // Empties the relay buffer (bytes relayed before this start belong to no recording of this board),
    // then starts the reader draining it. Nothing when a loop exists already. Owner's thread.
    void startReadThread() override;
};

}  // namespace brisel::device
