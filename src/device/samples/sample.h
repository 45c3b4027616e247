// Sample packets: the binary record in which a board streams one reading cycle of every enabled
// sensor, and its validating decoder.
//
// Layout (all integers unsigned 32-bit little-endian, offsets from the packet's first byte):
//   0   8  header magic "VLK_STLE"
//   8   4  version (1)
//   12  4  header length = 28 + 8 * entry count
//   16  4  payload length
//   20  4  entry count
//   24  4  time stamp
//   28  8 * entry count  entries: sensor id, byte count
//   header length, payload length: the entries' bytes in entry order
//   header length + payload length, 8: footer magic "END_DATA"
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include <tl/expected.hpp>

#include "common/device_kind.h"
#include "common/sensor_kind.h"

namespace brisel::device {

// Three-axis reading: x, y, z at bytes 0, 2, 4 (for Int16).
template <typename T>
struct Magnitude {
    T x{};
    T y{};
    T z{};
    static constexpr std::size_t byteCount = 3 * sizeof(T);
    // `bytes` holds exactly one element (byteCount bytes).
    static Magnitude fromBytes(std::span<const std::uint8_t, byteCount> bytes);
    friend bool operator==(const Magnitude&, const Magnitude&) = default;
};

// Colour light reading: c, r, g, b at bytes 0, 2, 4, 6 (for Int16).
template <typename T>
struct AmbientMagnitude {
    T c{};
    T r{};
    T g{};
    T b{};
    static constexpr std::size_t byteCount = 4 * sizeof(T);
    static AmbientMagnitude fromBytes(std::span<const std::uint8_t, byteCount> bytes);
    friend bool operator==(const AmbientMagnitude&, const AmbientMagnitude&) = default;
};

// Metal-oxide gas sensor reading: 13 values at bytes 0, 4, ..., 48 (for UInt32).
template <typename T>
struct MetalOxideMagnitude {
    static constexpr std::size_t valueCount = 13;
    std::array<T, valueCount> receivedData{};
    static constexpr std::size_t byteCount = valueCount * sizeof(T);
    static MetalOxideMagnitude fromBytes(std::span<const std::uint8_t, byteCount> bytes);
    friend bool operator==(const MetalOxideMagnitude&, const MetalOxideMagnitude&) = default;
};

// Why a packet was rejected; the value is the code under which the reader records it.
enum class SampleError {
    badHeaderMagic = 1,
    unsupportedVersion = 2,
    lengthMismatch = 4,
    badFooterMagic = 6,
};

// The recorded code of an error (1, 2, 4 or 6).
int sampleErrorCode(SampleError error);
// The printed name of an error ("badHeaderMagic", ...).
std::string_view sampleErrorName(SampleError error);

// Size in bytes of one element of a sensor kind (accel 6, pressure 4, rmox 52, ...).
constexpr std::size_t elementSize(common::SensorKind kind) {
    using common::SensorKind;
    switch (kind) {
        case SensorKind::ACCELEROMETER:
        case SensorKind::ACCELEROMETER_LOWPOWER:
        case SensorKind::ACCELEROMETER_HIGHSENSITIVE:
        case SensorKind::GYROSCOPE:
        case SensorKind::MAGNETOMETER:
            return Magnitude<std::int16_t>::byteCount;
        case SensorKind::PRESSURE:
        case SensorKind::ECO2:
            return sizeof(std::int32_t);
        case SensorKind::PROXIMITY:
            return sizeof(std::uint8_t);
        case SensorKind::AMBIENT:
            return AmbientMagnitude<std::int16_t>::byteCount;
        case SensorKind::RMOX:
            return MetalOxideMagnitude<std::uint32_t>::byteCount;
        case SensorKind::TEMPERATURE:
        case SensorKind::HUMIDITY:
        case SensorKind::LIGHT:
        case SensorKind::MICROPHONE:
        case SensorKind::MICROPHONE_ANALOG:
        case SensorKind::TVOC:
        case SensorKind::ETOH:
        case SensorKind::RCDA:
        case SensorKind::IAQ:
        case SensorKind::CURRENT:
            return sizeof(std::int16_t);
    }
    return 0;
}

// One validated sample packet. Built only by `Sample::parse`; plain data afterwards, no shared state.
class Sample {
  public:
    static constexpr std::array<std::uint8_t, 8> HEADER_MAGIC = {'V', 'L', 'K', '_', 'S', 'T', 'L', 'E'};
    static constexpr std::array<std::uint8_t, 8> FOOTER_MAGIC = {'E', 'N', 'D', '_', 'D', 'A', 'T', 'A'};
    // Bytes before the first entry: magic and five 32-bit fields.
    static constexpr std::size_t fixedHeaderBytes = 28;
    static constexpr std::size_t entryBytes = 8;
    static constexpr std::size_t footerBytes = FOOTER_MAGIC.size();
    static constexpr std::uint32_t supportedVersion = 1;

    // Decodes one packet, from the first byte of its header magic through the last byte of its footer
    // magic, recorded for a board of `deviceKind`. Returns the sample or the first reason to reject it.
    // An entry whose byte count is no whole number of elements is logged at warning and skipped; a sensor
    // id that names no sensor rejects the packet with `lengthMismatch`. Never throws; any thread.
    static tl::expected<Sample, SampleError> parse(std::span<const std::uint8_t> data,
                                                   common::DeviceKind deviceKind);

    // Checks a packet exactly as `parse` does (same results, same log lines) without decoding its
    // values: what the recorder needs to keep or drop a packet. Never throws; any thread.
    static tl::expected<void, SampleError> validate(std::span<const std::uint8_t> data);

    // The largest packet the service expects (208942 bytes with today's sensor kinds); every serial read
    // asks for this many bytes and a header waits at most this long for its footer.
    static constexpr std::size_t maxSampleBytes();

    std::set<common::SensorKind> enabledSensors;
    common::DeviceKind deviceKind;
    std::uint32_t timeStamp = 0;

    std::vector<Magnitude<std::int16_t>> accelLowPower;
    std::vector<Magnitude<std::int16_t>> accelHighPower;
    std::vector<Magnitude<std::int16_t>> magno;
    std::vector<AmbientMagnitude<std::int16_t>> ambient;
    std::vector<std::int16_t> temperature;
    std::vector<std::int16_t> humidity;
    std::vector<std::int16_t> temperature_ext1;
    std::vector<std::int16_t> microphone;
    std::vector<Magnitude<std::int16_t>> accel;
    std::vector<Magnitude<std::int16_t>> gyro;
    std::vector<std::int32_t> pressure;
    std::vector<std::uint8_t> proximity;
    std::vector<std::int16_t> light;
    std::vector<std::int16_t> tvoc;
    std::vector<std::int32_t> eco2;
    std::vector<std::int16_t> etoh;
    std::vector<std::int16_t> rcda;
    std::vector<std::int16_t> iaq;
    std::vector<MetalOxideMagnitude<std::uint32_t>> rmox;
    std::vector<std::int16_t> current;

  private:
    Sample(common::DeviceKind kind, std::uint32_t stamp) : deviceKind(kind), timeStamp(stamp) {}
};

// ---- inline definitions

namespace detail {
template <typename T>
T loadLittleEndian(const std::uint8_t* bytes) {
    using Unsigned = std::make_unsigned_t<T>;
    Unsigned value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value =
            static_cast<Unsigned>(value | static_cast<Unsigned>(static_cast<Unsigned>(bytes[i]) << (8 * i)));
    }
    return static_cast<T>(value);
}
}  // namespace detail

template <typename T>
Magnitude<T> Magnitude<T>::fromBytes(std::span<const std::uint8_t, byteCount> bytes) {
    return {detail::loadLittleEndian<T>(bytes.data()), detail::loadLittleEndian<T>(bytes.data() + sizeof(T)),
            detail::loadLittleEndian<T>(bytes.data() + 2 * sizeof(T))};
}

template <typename T>
AmbientMagnitude<T> AmbientMagnitude<T>::fromBytes(std::span<const std::uint8_t, byteCount> bytes) {
    return {detail::loadLittleEndian<T>(bytes.data()), detail::loadLittleEndian<T>(bytes.data() + sizeof(T)),
            detail::loadLittleEndian<T>(bytes.data() + 2 * sizeof(T)),
            detail::loadLittleEndian<T>(bytes.data() + 3 * sizeof(T))};
}

template <typename T>
MetalOxideMagnitude<T> MetalOxideMagnitude<T>::fromBytes(std::span<const std::uint8_t, byteCount> bytes) {
    MetalOxideMagnitude result;
    for (std::size_t i = 0; i < valueCount; ++i) {
        result.receivedData[i] = detail::loadLittleEndian<T>(bytes.data() + i * sizeof(T));
    }
    return result;
}

constexpr std::size_t Sample::maxSampleBytes() {
    // Room for one entry per kind, 1334 elements of every kind, the footer and 50000 bytes of slack.
    constexpr std::size_t elementsPerKind = 1334;
    constexpr std::size_t slack = 50000;
    std::size_t sizeSum = 0;
    for (common::SensorKind kind : common::allCases<common::SensorKind>()) {
        sizeSum += elementSize(kind);
    }
    return (fixedHeaderBytes + entryBytes * common::allCases<common::SensorKind>().size()) +
           elementsPerKind * sizeSum + footerBytes + slack;
}

}  // namespace brisel::device
