#include "device/samples/sample.h"

#include <gtest/gtest.h>

#include <random>

#include "device/samples/sample_packet_builder.h"
#include "support/log_capture.h"
#include "support/random_sample_packets.h"

namespace brisel::device {
namespace {

using common::DeviceKind;
using common::SensorKind;

constexpr DeviceKind kBoard = DeviceKind::NICLA_SENSE_ME;

std::vector<std::uint8_t> packetOf(std::vector<SampleEntry> entries, std::uint32_t stamp = 7) {
    SamplePacketContents contents;
    contents.timeStamp = stamp;
    contents.entries = std::move(entries);
    return buildSamplePacket(contents);
}

tl::expected<Sample, SampleError> parse(const std::vector<std::uint8_t>& bytes) {
    return Sample::parse(bytes, kBoard);
}

TEST(SampleParseTest, EmptyPacketOfThirtySixBytesHasNoSensors) {
    const auto bytes = packetOf({});
    ASSERT_EQ(bytes.size(), 36u);
    const auto sample = parse(bytes);
    ASSERT_TRUE(sample);
    EXPECT_TRUE(sample->enabledSensors.empty());
    EXPECT_TRUE(sample->accel.empty());
    EXPECT_TRUE(sample->temperature_ext1.empty());
    EXPECT_EQ(sample->timeStamp, 7u);
    EXPECT_EQ(sample->deviceKind, kBoard);
}

TEST(SampleParseTest, AccelerometerEntryDecodesMagnitudesInPayloadOrder) {
    const auto sample =
        parse(packetOf({{1, {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00}}}));
    ASSERT_TRUE(sample);
    ASSERT_EQ(sample->accel.size(), 2u);
    EXPECT_EQ(sample->accel[0], (Magnitude<std::int16_t>{1, -1, -32768}));
    EXPECT_EQ(sample->accel[1], (Magnitude<std::int16_t>{2, 3, 4}));
    EXPECT_EQ(sample->enabledSensors, std::set<SensorKind>{SensorKind::ACCELEROMETER});
}

TEST(SampleParseTest, ElementLayoutsOfTheWiderKinds) {
    std::vector<std::uint8_t> rmox(52);
    for (std::size_t i = 0; i < 13; ++i) {
        rmox[4 * i] = static_cast<std::uint8_t>(i);
        rmox[4 * i + 3] = 0x80;
    }
    const auto sample = parse(packetOf(
        {{19, rmox}, {12, {1, 0, 2, 0, 3, 0, 0xFE, 0xFF}}, {4, {0xFF, 0xFF, 0xFF, 0xFF}}, {11, {200}}}));
    ASSERT_TRUE(sample);
    ASSERT_EQ(sample->rmox.size(), 1u);
    EXPECT_EQ(sample->rmox[0].receivedData[12], 0x8000000Cu);
    ASSERT_EQ(sample->ambient.size(), 1u);
    EXPECT_EQ(sample->ambient[0], (AmbientMagnitude<std::int16_t>{1, 2, 3, -2}));
    EXPECT_EQ(sample->pressure, std::vector<std::int32_t>{-1});
    EXPECT_EQ(sample->proximity, std::vector<std::uint8_t>{200});
}

TEST(SampleParseTest, EntriesOfOneKindAppendInEntryOrder) {
    const auto sample = parse(packetOf({{5, {1, 0}}, {6, {9, 0}}, {5, {2, 0, 3, 0}}}));
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->temperature, (std::vector<std::int16_t>{1, 2, 3}));
    EXPECT_EQ(sample->humidity, std::vector<std::int16_t>{9});
}

TEST(SampleParseTest, EmptyEntryLeavesItsKindOutAndTheNextDecodesFromTheSameOffset) {
    const auto sample = parse(packetOf({{1, {}}, {5, {0x34, 0x12}}}));
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->enabledSensors, std::set<SensorKind>{SensorKind::TEMPERATURE});
    EXPECT_EQ(sample->temperature, std::vector<std::int16_t>{0x1234});
}

TEST(SampleParseTest, FooterIsLookedForWhereTheEntriesEnd) {
    // The entries cover none of the 2 payload bytes; the footer follows the entries directly.
    auto bytes = packetOf({});
    storeLittleEndian32(bytes, 16, 2);
    bytes.insert(bytes.end(), {0x01, 0x00});
    EXPECT_TRUE(parse(bytes));
}

TEST(SampleParseTest, MalformedEntryCostsOnlyThatEntry) {
    test_support::LogCapture log;
    const auto sample = parse(packetOf({{1, {1, 2, 3, 4, 5, 6, 7}}, {5, {0x05, 0x00}}}));
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->enabledSensors, std::set<SensorKind>{SensorKind::TEMPERATURE});
    EXPECT_TRUE(sample->accel.empty());
    EXPECT_EQ(sample->temperature, std::vector<std::int16_t>{5});
    EXPECT_TRUE(log.contains("Sensor size 7 invalid for sensor accel, ignoring sample"));
}

// A packet built sound, then broken in one place.
struct BrokenPacketCase {
    const char* label;
    std::vector<std::uint8_t> bytes;
    SampleError expected;
};

std::vector<BrokenPacketCase> brokenPackets() {
    std::vector<BrokenPacketCase> cases;
    const auto sound = packetOf({{5, {1, 0}}});
    auto withField = [&](std::size_t offset, std::uint32_t value) {
        auto bytes = sound;
        storeLittleEndian32(bytes, offset, value);
        return bytes;
    };
    cases.push_back({"shorter than a header", std::vector<std::uint8_t>(sound.begin(), sound.begin() + 27),
                     SampleError::lengthMismatch});
    auto badMagic = withField(8, 2);
    badMagic[0] = 'X';
    cases.push_back({"header magic checked before version", badMagic, SampleError::badHeaderMagic});
    cases.push_back({"version 2", withField(8, 2), SampleError::unsupportedVersion});
    auto longer = sound;
    longer.push_back(0);
    cases.push_back({"one byte longer than the fields say", longer, SampleError::lengthMismatch});
    auto emptyWithLongHeader = packetOf({});
    storeLittleEndian32(emptyWithLongHeader, 12, 36);
    emptyWithLongHeader.insert(emptyWithLongHeader.begin() + 28, 8, 0);
    cases.push_back(
        {"entry count 0 with header length 36", emptyWithLongHeader, SampleError::lengthMismatch});
    cases.push_back(
        {"entry count beyond the header", withField(20, 0xFFFFFFFF), SampleError::lengthMismatch});
    cases.push_back({"payload length near 2^32", withField(16, 0xFFFFFFF0), SampleError::lengthMismatch});
    cases.push_back({"unknown sensor id 10", withField(28, 10), SampleError::lengthMismatch});
    cases.push_back({"unknown sensor id 21", withField(28, 21), SampleError::lengthMismatch});
    cases.push_back(
        {"entry bytes run past the packet", withField(32, 0xFFFFFFFE), SampleError::badFooterMagic});
    auto badFooter = sound;
    badFooter.back() = 'X';
    cases.push_back({"footer magic broken", badFooter, SampleError::badFooterMagic});
    // Entries cover less than the payload: the footer is looked for where they end.
    auto shortEntries = packetOf({{5, {1, 0, 2, 0}}});
    storeLittleEndian32(shortEntries, 32, 2);
    cases.push_back({"entries shorter than the payload", shortEntries, SampleError::badFooterMagic});
    // Skipped malformed entries that add up past the packet.
    auto skippedPast = packetOf({{1, {1, 2, 3, 4, 5, 6, 7}}, {1, {1, 2, 3, 4, 5, 6, 7}}});
    storeLittleEndian32(skippedPast, 32, 0xFFFFFFFF);
    storeLittleEndian32(skippedPast, 40, 0xFFFFFFFF);
    cases.push_back({"skipped entries past the end", skippedPast, SampleError::badFooterMagic});
    return cases;
}

TEST(SampleParseTest, RejectsEachBrokenPacketWithItsReason) {
    test_support::LogCapture log;
    for (const auto& broken : brokenPackets()) {
        const auto sample = parse(broken.bytes);
        ASSERT_FALSE(sample) << broken.label;
        EXPECT_EQ(sample.error(), broken.expected) << broken.label;
        EXPECT_EQ(Sample::validate(broken.bytes).error(), broken.expected) << broken.label;
    }
    EXPECT_TRUE(log.contains("unknown sensor kind"));
}

TEST(SampleParseTest, LargestPacketFollowsTheSensorKinds) {
    std::size_t sizeSum = 0;
    for (SensorKind kind : common::allCases<common::SensorKind>()) {
        sizeSum += elementSize(kind);
    }
    EXPECT_EQ(sizeSum, 119u);
    EXPECT_EQ(Sample::maxSampleBytes(), 208942u);
}

TEST(SampleParseTest, RandomValidPacketsDecodeToWhatWasSent) {
    std::mt19937_64 random(20261209);
    for (int round = 0; round < 2000; ++round) {
        const auto generated = test_support::randomValidPacket(random);
        const auto sample = parse(generated.bytes);
        ASSERT_TRUE(sample) << "round " << round;
        EXPECT_EQ(sample->timeStamp, generated.contents.timeStamp);
        std::set<SensorKind> expectedKinds;
        for (const auto& [kind, values] : generated.components) {
            expectedKinds.insert(kind);
        }
        EXPECT_EQ(sample->enabledSensors, expectedKinds) << "round " << round;
        for (SensorKind kind : common::allCases<common::SensorKind>()) {
            const auto found = generated.components.find(kind);
            const std::vector<std::int64_t> expected =
                found == generated.components.end() ? std::vector<std::int64_t>{} : found->second;
            ASSERT_EQ(test_support::componentsOf(*sample, kind), expected)
                << "round " << round << " kind " << common::rawValue(kind);
        }
    }
}

}  // namespace
}  // namespace brisel::device
