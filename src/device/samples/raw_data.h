// Decoded sensor data in its exchange form: the `RawData` record with its JSON coding, and the two
// argument bundles that describe a decoded stream.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tsl/ordered_map.h>
#include <nlohmann/json.hpp>
#include <tl/expected.hpp>

#include "common/device_kind.h"
#include "common/sensor_kind.h"
#include "device/samples/sample.h"

namespace brisel::device {

// A decoded stream: samples in arrival order and each sensor's sampling rate.
class StreamDataArgs {
  public:
    StreamDataArgs(std::vector<Sample> streamValue, std::map<common::SensorKind, double> sensorOdrsValue)
        : stream(std::move(streamValue)), sensorOdrs(std::move(sensorOdrsValue)) {}

    std::vector<Sample> stream;
    std::map<common::SensorKind, double> sensorOdrs;
};

// Sensor data by name, packet information and rates by sensor name, for one board kind.
class RawDataArgs {
  public:
    std::map<std::string, std::vector<nlohmann::ordered_json>> sensor_data;
    std::map<std::string, std::vector<std::int64_t>> packetInformation;
    std::map<std::string, float> sensorOdrs;
    common::DeviceKind deviceKind = common::DeviceKind::SENSOR_TILE_BOX;
};

// The JSON keys of `RawData`, in coding order of their declaration.
enum class RawDataKey { sensorData, packetIndices, sensorOdrs };
// "sensor_data", "packet_indices", "_sensor_odrs".
std::string_view rawDataKeyText(RawDataKey key);
// The key whose text is exactly `text`, or none.
std::optional<RawDataKey> rawDataKeyFromText(std::string_view text);

// Packet indices by packet number, in insertion order (kept through encoding and decoding).
using PacketIndexTable = tsl::ordered_map<std::int64_t, std::map<std::string, std::int64_t>>;

class RawData {
  public:
    std::optional<common::DeviceKind> deviceKind;  // not part of the JSON form
    std::optional<std::map<common::SensorKind, double>> sensorOdrs;
    PacketIndexTable packetIndices;
    std::map<std::string, std::vector<std::vector<float>>> sensorData;

    // JSON form, keys in this order: "_sensor_odrs" (null when absent, else [kind raw value, rate, ...]),
    // "packet_indices" ([key, {name: integer}, key, ...] in insertion order), "sensor_data"
    // ({name: [[number, ...], ...]}). Fails on a non-finite number or a key that is not valid UTF-8.
    tl::expected<nlohmann::ordered_json, std::string> encode() const;

    // Reads the JSON form: exactly the three keys, "_sensor_odrs" present (null allowed), the other two
    // required. A missing or unknown key, a value of the wrong type, an odd-length alternating array, a
    // repeated key, an unknown sensor kind, an integer out of range or a number that does not fit a
    // float is an error naming the key path. `deviceKind` stays empty.
    static tl::expected<RawData, std::string> decode(const nlohmann::ordered_json& json);
};

}  // namespace brisel::device
