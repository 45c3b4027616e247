// The browser's side of a Bluetooth board: it relays the board's sample packets to the service in
// "saveDataCollectionBluetooth" requests, over a connection of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "support/websocket_test_client.h"

namespace brisel::test_support {

// Relays simulated packets with `sensorIds` (simulatedSamplePacket), numbered from 0, one every
// `period`, until the returned thread is stopped (or destroyed).
std::jthread relayBluetoothPackets(WebSocketTestClient connection, std::vector<std::uint32_t> sensorIds,
                                   std::chrono::milliseconds period);

}  // namespace brisel::test_support
