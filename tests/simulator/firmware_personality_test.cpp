// What simulated firmware sends, fault by fault, judged by the service's own packet cutter.
#include "support/firmware_personality.h"

#include <gtest/gtest.h>

#include <string>

#include "device/samples/packet_cutter.h"

namespace brisel::test {
namespace {

struct Output {
    std::string text;
    std::vector<std::uint8_t> bytes;
    std::size_t writes = 0;
};

Output bursts(const FirmwarePersonality& firmware, std::size_t count) {
    FirmwareOutput output(firmware);
    Output sent;
    for (std::size_t i = 0; i < count; ++i) {
        for (const auto& write : output.nextBurst()) {
            sent.bytes.insert(sent.bytes.end(), write.bytes.begin(), write.bytes.end());
            ++sent.writes;
        }
    }
    sent.text.assign(sent.bytes.begin(), sent.bytes.end());
    return sent;
}

device::CutReport cut(const std::vector<std::uint8_t>& bytes) {
    device::PacketCutter cutter;
    std::vector<std::span<const std::uint8_t>> accepted;
    return cutter.feed(bytes, accepted);
}

TEST(FirmwarePersonalityTest, TestImagesCarryTheirPersonality) {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::classification;
    firmware.score = "-0.25";
    firmware.fault = BoardFault::overlongLines;

    EXPECT_EQ(personalityOfImage(makeTestImage(firmware)), firmware);
    EXPECT_FALSE(personalityOfImage(std::vector<std::uint8_t>(100, 0x42)));
    const std::string broken = std::string(kTestImageMarker) + "{\"firmware\": \"toaster\"}\n";
    EXPECT_FALSE(personalityOfImage(std::vector<std::uint8_t>(broken.begin(), broken.end())));
}

TEST(FirmwarePersonalityTest, DataCollectionSendsValidPacketsAndFaultsSpoilThemOnDemand) {
    FirmwarePersonality firmware;
    firmware.sensorIds = {1, 2, 19};
    const auto good = cut(bursts(firmware, 6).bytes);
    firmware.fault = BoardFault::badPackets;
    const auto bad = cut(bursts(firmware, 6).bytes);
    firmware.fault = BoardFault::garbage;
    const auto garbage = cut(bursts(firmware, 6).bytes);
    firmware.fault = BoardFault::silence;

    EXPECT_EQ(good.acceptedPackets, 6U);
    EXPECT_EQ(good.rejectedPackets, 0U);
    EXPECT_EQ(bad.acceptedPackets, 3U);
    EXPECT_EQ(bad.rejectedPackets, 3U);
    EXPECT_EQ(garbage.acceptedPackets, 6U);
    EXPECT_TRUE(bursts(firmware, 6).bytes.empty());
}

TEST(FirmwarePersonalityTest, LinesFollowTheFirmwareKind) {
    FirmwarePersonality classification;
    classification.kind = FirmwareKind::classification;
    classification.score = "0.9";
    FirmwarePersonality latency;
    latency.kind = FirmwareKind::latency;
    FirmwarePersonality overlong = classification;
    overlong.fault = BoardFault::overlongLines;
    FirmwarePersonality split = classification;
    split.splitLines = true;

    EXPECT_EQ(bursts(classification, 2).text,
              "SCORE: 0.9\r\nPRED: 1, 0.2,0.8\r\nSCORE: 0.9\r\nPRED: 0, 0.6,0.4\r\n");
    EXPECT_EQ(bursts(latency, 4).text, "LATENCY: 12\r\nLATENCY: 10\r\nLATENCY: 11\r\nLATENCY: 12\r\n");
    const auto longText = bursts(overlong, 1).text;
    EXPECT_EQ(longText.find_first_not_of('A'), 300000U);
    EXPECT_EQ(longText.substr(300000), bursts(classification, 1).text);
    const auto splitOutput = bursts(split, 1);
    EXPECT_EQ(splitOutput.text, bursts(classification, 1).text);
    EXPECT_EQ(splitOutput.writes, 4U);
}

}  // namespace
}  // namespace brisel::test
