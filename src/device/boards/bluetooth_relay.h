// The process-wide buffer of bytes that the browser relays from a Bluetooth board
// ("saveDataCollectionBluetooth" requests), and the reader's access to it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "device/samples/byte_source.h"
#include "device/samples/shared_byte_buffer.h"

namespace brisel::device {

// The one relay buffer of the process, created on first use, bounded like every `SharedByteBuffer`.
std::shared_ptr<SharedByteBuffer> bluetoothData();

// Appends relayed bytes (the websocket thread's part). Never blocks beyond the buffer's lock.
void relayBluetoothBytes(std::span<const std::uint8_t> bytes);

// Empties the relay buffer (bytes of an earlier board are not this recording's) and returns the byte
// source through which a reader drains it. Called when a Bluetooth board starts recording.
std::unique_ptr<ByteSource> openBluetoothRelay();

}  // namespace brisel::device
