#include "device/boards/bluetooth_relay.h"

#include <gtest/gtest.h>

namespace brisel::device {
namespace {

using namespace std::chrono_literals;

TEST(BluetoothRelayTest, StartingABoardEmptiesTheRelayAndDrainsLaterBytes) {
    const std::vector<std::uint8_t> stale = {1, 2, 3};
    const std::vector<std::uint8_t> fresh = {4, 5};
    relayBluetoothBytes(stale);
    auto source = openBluetoothRelay();
    relayBluetoothBytes(fresh);
    std::vector<std::uint8_t> out;
    const auto read = source->readSome(out, 0ms);
    ASSERT_TRUE(read);
    EXPECT_EQ(out, fresh);
    EXPECT_EQ(bluetoothData()->size(), 0u);
}

}  // namespace
}  // namespace brisel::device
