#include "support/bluetooth_relay_client.h"

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <utility>

#include <nlohmann/json.hpp>

#include "support/firmware_personality.h"

namespace brisel::test_support {

std::jthread relayBluetoothPackets(WebSocketTestClient connection, std::vector<std::uint32_t> sensorIds,
                                   std::chrono::milliseconds period) {
    return std::jthread([client = std::move(connection), sensorIds = std::move(sensorIds),
                         period](std::stop_token stop) mutable {
        std::mutex mutex;
        std::condition_variable_any pace;
        std::unique_lock lock(mutex);
        for (std::uint32_t n = 0; !pace.wait_for(lock, stop, period, [&] { return stop.stop_requested(); });
             ++n) {
            client.sendText(nlohmann::json{{"saveDataCollectionBluetooth", true},
                                           {"data", test::simulatedSamplePacket(sensorIds, n)}}
                                .dump());
        }
    });
}

}  // namespace brisel::test_support
