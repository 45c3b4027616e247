#include "support/wifi_firmware_board.h"

#include <chrono>
#include <utility>

#include "support/eventually.h"

namespace brisel::test {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kCrcSize = 2;

}  // namespace

WifiFirmwareBoard::WifiFirmwareBoard(WifiTestBoard board_, AckPolicy policy_)
    : board(std::move(board_)), policy(policy_), reader([this] { run(); }) {}

WifiFirmwareBoard::~WifiFirmwareBoard() {
    stopping.store(true);
    reader.join();
}

std::vector<std::vector<std::uint8_t>> WifiFirmwareBoard::packets() const {
    std::lock_guard lock(mutex);
    return received;
}

std::vector<std::uint8_t> WifiFirmwareBoard::image() const {
    std::vector<std::uint8_t> joined;
    for (const auto& packet : packets()) {
        // header 6, item count 1, command 1, data size 2, chunk index 2, chunk count 2, chunk, CRC 2
        if (packet.size() >= 16 && packet[7] == 'W') {
            joined.insert(joined.end(), packet.begin() + 14, packet.end() - 2);
        }
    }
    return joined;
}

bool WifiFirmwareBoard::waitForPackets(std::size_t count, std::chrono::milliseconds timeout) const {
    return test_support::eventually([&] { return packets().size() >= count; }, timeout);
}

bool WifiFirmwareBoard::readExactly(std::size_t count, std::vector<std::uint8_t>& into) {
    const std::size_t goal = into.size() + count;
    while (into.size() < goal) {
        if (stopping.load()) {
            return false;
        }
        const auto chunk = board.read(goal - into.size(), 50ms);
        into.insert(into.end(), chunk.begin(), chunk.end());
        if (board.closedByServer()) {
            closed.store(true);
            return into.size() == goal;
        }
    }
    return true;
}

void WifiFirmwareBoard::run() {
    // A board announces its mode first; acknowledgements count only once it is known.
    board.send("VLK_STLE\x01\x02");
    for (;;) {
        std::vector<std::uint8_t> packet;
        if (!readExactly(kHeaderSize, packet)) {
            return;
        }
        const auto bodySize = static_cast<std::int16_t>(packet[4] | (packet[5] << 8));
        if (bodySize < 0 || !readExactly(static_cast<std::size_t>(bodySize) + kCrcSize, packet)) {
            return;
        }
        {
            std::lock_guard lock(mutex);
            received.push_back(packet);
        }
        acknowledge(packet);
    }
}

void WifiFirmwareBoard::acknowledge(const std::vector<std::uint8_t>& packet) {
    const char command = packet.size() > 7 ? static_cast<char>(packet[7]) : '\0';
    const auto writes = acknowledgementWrites(policy, command);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(kSplitAckPause);
        }
        board.send(writes[i]);
    }
}

std::vector<std::vector<std::uint8_t>> acknowledgementWrites(AckPolicy policy, char command,
                                                             bool packetSound) {
    if (command == 'F') {
        return {};  // the board restarts into the new firmware
    }
    std::vector<std::uint8_t> ack = ackPacket('F', packetSound ? 0 : 1);
    switch (policy) {
        case AckPolicy::acceptAll:
        case AckPolicy::splitAcks:
            break;
        case AckPolicy::acceptStartOnly:
            if (command != 'S') {
                return {};
            }
            break;
        case AckPolicy::badCrc:
            ack[8] ^= 0x5A;
            break;
        case AckPolicy::refuse:
            ack = ackPacket('F', 1);
            break;
    }
    if (policy == AckPolicy::splitAcks) {
        return {std::vector<std::uint8_t>(ack.begin(), ack.begin() + 4),
                std::vector<std::uint8_t>(ack.begin() + 4, ack.end())};
    }
    return {ack};
}

}  // namespace brisel::test
