#include "support/wifi_board_simulator.h"

#include <algorithm>
#include <deque>
#include <utility>

namespace brisel::test {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kReadSlice = 5ms;

WifiBoardSnapshot initialState(FirmwarePersonality firmware) {
    WifiBoardSnapshot snapshot;
    snapshot.firmware = std::move(firmware);
    return snapshot;
}

}  // namespace

WifiBoardSimulator::WifiBoardSimulator(std::uint16_t port_, FirmwarePersonality firmware,
                                       WifiBoardOptions options_)
    : port(port_), options(options_), state(initialState(std::move(firmware))), thread([this] { run(); }) {}

WifiBoardSimulator::~WifiBoardSimulator() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

WifiBoardSnapshot WifiBoardSimulator::snapshot() const {
    std::lock_guard lock(mutex);
    return state;
}

bool WifiBoardSimulator::waitUntil(const std::function<bool(const WifiBoardSnapshot&)>& condition,
                                   std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return condition(state); });
}

void WifiBoardSimulator::change(const std::function<void(WifiBoardSnapshot&)>& edit) {
    {
        std::lock_guard lock(mutex);
        edit(state);
    }
    changed.notify_all();
}

void WifiBoardSimulator::release() {
    change([this](WifiBoardSnapshot&) { released = true; });
}

bool WifiBoardSimulator::held() const {
    std::lock_guard lock(mutex);
    return options.holdAfterBursts && !released && state.bursts >= *options.holdAfterBursts;
}

// Sleeps for `duration` unless the board is stopped first; false when stopped.
bool WifiBoardSimulator::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, duration, [&] { return stopping; });
}

void WifiBoardSimulator::run() {
    bool firstTry = true;
    for (;;) {
        if (!firstTry && !pause(options.reconnectDelay)) {
            return;
        }
        firstTry = false;
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                return;
            }
        }
        auto board = WifiTestBoard::connect(port);
        if (!board) {
            continue;
        }
        change([](WifiBoardSnapshot& snapshot) {
            snapshot.connected = true;
            ++snapshot.connections;
        });
        session(*board);
        board->close();
        change([](WifiBoardSnapshot& snapshot) { snapshot.connected = false; });
        if (!options.reconnect) {
            return;
        }
    }
}

void WifiBoardSimulator::session(WifiTestBoard& board) {
    FirmwareOutput output(snapshot().firmware);
    FirmwareReassembly reassembly;
    bool receivingFirmware = false;
    std::deque<std::pair<Clock::time_point, std::vector<std::uint8_t>>> scheduled;
    Clock::time_point nextBurst = Clock::now();
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                return;
            }
        }
        const auto now = Clock::now();
        if (!receivingFirmware && scheduled.empty() && now >= nextBurst && !held()) {
            auto due = now;
            auto burst = output.nextBurst();
            if (!burst.empty()) {
                change([](WifiBoardSnapshot& snapshot) { ++snapshot.bursts; });
            }
            for (auto& write : burst) {
                due += write.delay;
                scheduled.emplace_back(due, std::move(write.bytes));
            }
            nextBurst = due + output.personality().period;
        }
        while (!receivingFirmware && !scheduled.empty() && scheduled.front().first <= Clock::now()) {
            if (!board.send(scheduled.front().second)) {
                return;
            }
            scheduled.pop_front();
        }
        if (output.wantsUnplug() && scheduled.empty()) {
            return;  // the board vanishes in mid-packet
        }
        const auto received = board.readSome(64 * 1024, kReadSlice);
        if (board.closedByServer()) {
            if (reassembly.complete()) {
                const auto personality = personalityOfImage(reassembly.image());
                change([&](WifiBoardSnapshot& snapshot) {
                    if (personality) {
                        snapshot.firmware = *personality;
                    } else {
                        snapshot.firmware.fault = BoardFault::silence;
                    }
                });
            }
            return;
        }
        if (received.empty()) {
            continue;
        }
        for (const auto& packet : reassembly.feed(received)) {
            if (packet.kind == FirmwarePacketKind::start && !packet.fault) {
                receivingFirmware = true;  // the firmware stops streaming while it is written
                scheduled.clear();
            }
            change([&](WifiBoardSnapshot& snapshot) {
                ++snapshot.packetsReceived;
                if (packet.fault) {
                    snapshot.packetFaults.push_back(*packet.fault);
                }
                if (packet.kind == FirmwarePacketKind::flash && reassembly.complete()) {
                    snapshot.imageSizes.push_back(reassembly.image().size());
                    snapshot.lastImagePersonality = personalityOfImage(reassembly.image());
                }
            });
            acknowledge(board, packet);
        }
    }
}

void WifiBoardSimulator::acknowledge(WifiTestBoard& board, const ReceivedFirmwarePacket& packet) {
    const char command = packet.kind == FirmwarePacketKind::start   ? 'S'
                         : packet.kind == FirmwarePacketKind::write ? 'W'
                         : packet.kind == FirmwarePacketKind::flash ? 'F'
                                                                    : '?';
    const auto writes = acknowledgementWrites(options.acks, command, !packet.fault.has_value());
    for (std::size_t i = 0; i < writes.size(); ++i) {
        if (i > 0 && !pause(kSplitAckPause)) {
            return;
        }
        board.send(writes[i]);
    }
}

nlohmann::ordered_json WifiBoardSimulator::stateJson() const {
    const WifiBoardSnapshot current = snapshot();
    nlohmann::ordered_json json;
    json["connected"] = current.connected;
    json["connections"] = current.connections;
    json["bursts"] = current.bursts;
    json["firmware"] = toJson(current.firmware);
    json["packetsReceived"] = current.packetsReceived;
    json["packetFaults"] = current.packetFaults;
    json["imageSizes"] = current.imageSizes;
    json["lastImageFirmware"] =
        current.lastImagePersonality ? toJson(*current.lastImagePersonality) : nlohmann::ordered_json();
    return json;
}

}  // namespace brisel::test
