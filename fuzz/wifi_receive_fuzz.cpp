// Drives a WiFi connection's receive path with board bytes cut into chunks and interleaved with
// transfer states, as the io thread would, and checks its bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "device/wifi/wifi_receive_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brisel::device;
    constexpr std::size_t kCapacity = 64 * 1024;
    WifiDataBuffer buffer(kCapacity);
    PredictionMailbox mailbox;
    WifiReceivePath path(0, buffer, mailbox);

    std::span<const std::uint8_t> input(data, size);
    while (!input.empty()) {
        // One control byte per read: transfer flags, whether saving is on, and how much the board sent.
        const std::uint8_t control = input.front();
        input = input.subspan(1);
        const bool flashing = (control & 0x01) != 0;
        const TransferFlags flags{flashing, (control & 0x02) != 0};
        if ((control & 0x04) != 0) {
            buffer.startSave();
        } else if ((control & 0x08) != 0) {
            buffer.stopSave();
        }
        const std::size_t readLength = path.nextReadLength(flashing);
        if (readLength < 1 || readLength > kModeKnownReadLength) {
            std::abort();
        }
        const auto nibble = static_cast<std::size_t>(control >> 4);
        const std::size_t wanted = nibble == 15 ? readLength : (nibble % readLength) + 1;
        const std::size_t taken = wanted < input.size() ? wanted : input.size();
        if (taken == 0) {
            break;
        }
        path.receive(input.first(taken), flags);
        input = input.subspan(taken);
        if (path.pendingAckBytes() >= kAckPacketLength || buffer.size() > kCapacity ||
            path.firstBytes().size() > kUndecidedByteLimit) {
            std::abort();
        }
        if ((control & 0x0C) == 0x0C) {
            buffer.takeAll();
            mailbox.take();
        }
    }
    return 0;
}
