// Random valid sample packets with the values they carry, for tests that check decoding against what
// was sent. Values are stored element component by element component, independent of the decoder.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "common/sensor_kind.h"
#include "device/samples/sample.h"
#include "device/samples/sample_packet_builder.h"

namespace brisel::test_support {

struct GeneratedPacket {
    device::SamplePacketContents contents;
    std::vector<std::uint8_t> bytes;
    // Components of every element of each kind, in packet order (x, y, z of an accel element, ...).
    std::map<common::SensorKind, std::vector<std::int64_t>> components;
};

// A valid packet of up to `maxEntries` entries of known sensors, each with up to `maxElements`
// elements (some entries empty). Its payload never holds the footer magic.
GeneratedPacket randomValidPacket(std::mt19937_64& random, std::size_t maxEntries = 6,
                                  std::size_t maxElements = 8);

// The components of every element the sample holds for `kind`, in order.
std::vector<std::int64_t> componentsOf(const device::Sample& sample, common::SensorKind kind);

// The packet's sensor id for a kind (inverse of `sensorFor`); MICROPHONE_ANALOG has none and gives 0.
std::uint32_t sensorIdOf(common::SensorKind kind);

}  // namespace brisel::test_support
