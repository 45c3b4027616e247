#include "device/boards/bluetooth_relay.h"

namespace brisel::device {

std::shared_ptr<SharedByteBuffer> bluetoothData() {
    static const auto buffer = std::make_shared<SharedByteBuffer>("BLUETOOTH");
    return buffer;
}

void relayBluetoothBytes(std::span<const std::uint8_t> bytes) {
    bluetoothData()->append(bytes);
}

std::unique_ptr<ByteSource> openBluetoothRelay() {
    auto buffer = bluetoothData();
    buffer->clear();
    return std::make_unique<BufferByteSource>(std::move(buffer));
}

}  // namespace brisel::device
