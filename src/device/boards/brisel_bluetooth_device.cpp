#include "device/boards/brisel_bluetooth_device.h"

#include "common/logger.h"
#include "device/boards/bluetooth_relay.h"
#include "device/samples/source_line.h"

namespace brisel::device {

BriselBluetoothDevice::~BriselBluetoothDevice() {
    stopReadThread();
}

void BriselBluetoothDevice::startReadThread() {
    markReadStart();
    SampleReader* reader = sampleReader();
    if (reader == nullptr) {
        common::logger().critical("Sample Reader nil at " + sourceLine());
        return;
    }
    if (reader->hasLoop()) {
        return;
    }
    reader->start(openBluetoothRelay());
}

}  // namespace brisel::device
