// What a simulated board's firmware does, chosen by the last image flashed onto it. Test images carry
// a marker line naming their personality; the bytes a board with that firmware sends are produced by
// FirmwareOutput, for USB and WiFi boards alike.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace brisel::test {

enum class FirmwareKind {
    dataCollection,  // sample packets
    classification,  // "SCORE: " and "PRED:" lines
    latency,         // "LATENCY: " lines
};

// Faults a board shows on demand.
enum class BoardFault {
    none,
    garbage,             // bytes that are neither packets nor lines between the good output
    badPackets,          // every second packet carries an unsupported version
    silence,             // the port stays open and nothing is sent
    unplugMidPacket,     // after three good packets (or groups of lines), half of one, then the board
                         // is unplugged
    overlongLines,       // a line of 300000 bytes without a line end before the good lines
    malformedLatencies,  // "LATENCY: 5 " and a 20-digit "LATENCY: " line before each good line
};

struct FirmwarePersonality {
    FirmwareKind kind = FirmwareKind::dataCollection;
    // Data collection: the sensor ids of each packet's entries, 4 elements each.
    std::vector<std::uint32_t> sensorIds{1};
    // Pause between two packets or two groups of lines.
    std::chrono::milliseconds period{20};
    // Classification: the values after "PRED: ", sent in turn; a "SCORE: " line precedes each when
    // `score` is set.
    std::vector<std::string> predictions{"1, 0.2,0.8", "0, 0.6,0.4"};
    std::optional<std::string> score;
    // Classification: when not empty, the bursts are these texts in turn, each in one write, instead
    // of the score and prediction lines.
    std::vector<std::string> texts;
    // Each line is sent in two writes 50 ms apart.
    bool splitLines = false;
    // Latency: the values of the "LATENCY: " lines, sent in turn and then again.
    std::vector<std::int64_t> latencies{12, 10, 11};
    BoardFault fault = BoardFault::none;

    friend bool operator==(const FirmwarePersonality&, const FirmwarePersonality&) = default;
};

// The first bytes of every test image.
inline constexpr std::string_view kTestImageMarker = "BRISEL-TEST-FIRMWARE ";

nlohmann::ordered_json toJson(const FirmwarePersonality& personality);
// The personality a JSON object describes; none when it is not one (unknown key values, wrong types).
std::optional<FirmwarePersonality> personalityFromJson(const nlohmann::json& description);

// A test image: the marker, the personality as one JSON line, then filler up to `size` bytes (at least
// the marker line).
std::vector<std::uint8_t> makeTestImage(const FirmwarePersonality& personality, std::size_t size = 3000);
// The personality of a test image; none for any other bytes.
std::optional<FirmwarePersonality> personalityOfImage(std::span<const std::uint8_t> image);

// One write of the board, `delay` after the previous one.
struct TimedWrite {
    std::chrono::milliseconds delay{0};
    std::vector<std::uint8_t> bytes;
};

// What the board sends next, one burst at a time. Not thread-safe: one owner (the board's thread).
class FirmwareOutput {
  public:
    explicit FirmwareOutput(FirmwarePersonality personality);

    // The writes of the next burst, to be sent one period after the previous burst; empty for a
    // silent board.
    std::vector<TimedWrite> nextBurst();
    // True once the board should vanish (the unplug-in-mid-packet fault has sent its half packet).
    bool wantsUnplug() const { return unplugNow; }
    const FirmwarePersonality& personality() const { return firmware; }

  private:
    std::vector<TimedWrite> dataCollectionBurst();
    std::vector<TimedWrite> lineBurst(std::vector<std::string> lines);

    FirmwarePersonality firmware;
    std::size_t burstsSent = 0;
    bool unplugNow = false;
};

// One sample packet with the given sensors, 4 elements each, values derived from `sequence`.
std::vector<std::uint8_t> simulatedSamplePacket(const std::vector<std::uint32_t>& sensorIds,
                                                std::uint32_t sequence);

// The `count` simulated packets from `first` on, joined: what a segment of them holds.
std::string simulatedPacketRun(const std::vector<std::uint32_t>& sensorIds, std::uint32_t first,
                               std::size_t count);

}  // namespace brisel::test
