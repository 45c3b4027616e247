#include "device/samples/sample.h"

#include <algorithm>
#include <string>

#include "common/logger.h"

namespace brisel::device {

static_assert(Sample::maxSampleBytes() == 208942);

namespace {

std::uint32_t readField(std::span<const std::uint8_t> data, std::size_t offset) {
    return detail::loadLittleEndian<std::uint32_t>(data.data() + offset);
}

bool holdsMagic(std::span<const std::uint8_t> data, std::uint64_t offset,
                const std::array<std::uint8_t, 8>& magic) {
    if (offset > data.size() || data.size() - offset < magic.size()) {
        return false;
    }
    return std::equal(magic.begin(), magic.end(), data.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Appends every element of `bytes` (a whole number of elements) to `out`.
template <typename Element>
void appendElements(std::vector<Element>& out, std::span<const std::uint8_t> bytes) {
    constexpr std::size_t size = Element::byteCount;
    out.reserve(out.size() + bytes.size() / size);
    for (std::size_t offset = 0; offset + size <= bytes.size(); offset += size) {
        out.push_back(Element::fromBytes(bytes.subspan(offset).first<size>()));
    }
}

template <typename Scalar>
void appendScalars(std::vector<Scalar>& out, std::span<const std::uint8_t> bytes) {
    out.reserve(out.size() + bytes.size() / sizeof(Scalar));
    for (std::size_t offset = 0; offset + sizeof(Scalar) <= bytes.size(); offset += sizeof(Scalar)) {
        out.push_back(detail::loadLittleEndian<Scalar>(bytes.data() + offset));
    }
}

void decodeEntry(Sample& sample, common::SensorKind kind, std::span<const std::uint8_t> bytes) {
    using common::SensorKind;
    switch (kind) {
        case SensorKind::ACCELEROMETER:
            appendElements(sample.accel, bytes);
            return;
        case SensorKind::ACCELEROMETER_LOWPOWER:
            appendElements(sample.accelLowPower, bytes);
            return;
        case SensorKind::ACCELEROMETER_HIGHSENSITIVE:
            appendElements(sample.accelHighPower, bytes);
            return;
        case SensorKind::GYROSCOPE:
            appendElements(sample.gyro, bytes);
            return;
        case SensorKind::MAGNETOMETER:
            appendElements(sample.magno, bytes);
            return;
        case SensorKind::AMBIENT:
            appendElements(sample.ambient, bytes);
            return;
        case SensorKind::RMOX:
            appendElements(sample.rmox, bytes);
            return;
        case SensorKind::PRESSURE:
            appendScalars(sample.pressure, bytes);
            return;
        case SensorKind::ECO2:
            appendScalars(sample.eco2, bytes);
            return;
        case SensorKind::PROXIMITY:
            appendScalars(sample.proximity, bytes);
            return;
        case SensorKind::TEMPERATURE:
            appendScalars(sample.temperature, bytes);
            return;
        case SensorKind::HUMIDITY:
            appendScalars(sample.humidity, bytes);
            return;
        case SensorKind::LIGHT:
            appendScalars(sample.light, bytes);
            return;
        case SensorKind::MICROPHONE:
            appendScalars(sample.microphone, bytes);
            return;
        case SensorKind::TVOC:
            appendScalars(sample.tvoc, bytes);
            return;
        case SensorKind::ETOH:
            appendScalars(sample.etoh, bytes);
            return;
        case SensorKind::RCDA:
            appendScalars(sample.rcda, bytes);
            return;
        case SensorKind::IAQ:
            appendScalars(sample.iaq, bytes);
            return;
        case SensorKind::CURRENT:
            appendScalars(sample.current, bytes);
            return;
        case SensorKind::MICROPHONE_ANALOG:
            return;  // no sensor id selects it
    }
}

}  // namespace

int sampleErrorCode(SampleError error) {
    return static_cast<int>(error);
}

std::string_view sampleErrorName(SampleError error) {
    switch (error) {
        case SampleError::badHeaderMagic:
            return "badHeaderMagic";
        case SampleError::unsupportedVersion:
            return "unsupportedVersion";
        case SampleError::lengthMismatch:
            return "lengthMismatch";
        case SampleError::badFooterMagic:
            return "badFooterMagic";
    }
    return "unknown";
}

namespace {

// Checks a packet in the documented order and calls `onEntry(kind, bytes)` for each well-formed,
// non-empty entry, in entry order. Returns the packet's time stamp or the first reason to reject it.
template <typename OnEntry>
tl::expected<std::uint32_t, SampleError> walkPacket(std::span<const std::uint8_t> data, OnEntry&& onEntry) {
    if (data.size() < Sample::fixedHeaderBytes) {
        return tl::unexpected(SampleError::lengthMismatch);
    }
    if (!holdsMagic(data, 0, Sample::HEADER_MAGIC)) {
        return tl::unexpected(SampleError::badHeaderMagic);
    }
    if (readField(data, 8) != Sample::supportedVersion) {
        return tl::unexpected(SampleError::unsupportedVersion);
    }
    // Lengths in 64 bits: three 32-bit fields and a multiple of one cannot overflow them.
    const std::uint64_t headerLength = readField(data, 12);
    const std::uint64_t payloadLength = readField(data, 16);
    const std::uint64_t entryCount = readField(data, 20);
    const std::uint32_t stamp = readField(data, 24);
    if (static_cast<std::uint64_t>(data.size()) != headerLength + payloadLength + Sample::footerBytes) {
        return tl::unexpected(SampleError::lengthMismatch);
    }
    if (headerLength != Sample::fixedHeaderBytes + Sample::entryBytes * entryCount) {
        return tl::unexpected(SampleError::lengthMismatch);
    }
    // From here headerLength <= data.size() - 8, so every entry lies inside the packet.

    std::uint64_t payloadOffset = headerLength;
    for (std::uint64_t entry = 0; entry < entryCount; ++entry) {
        const auto entryOffset =
            static_cast<std::size_t>(Sample::fixedHeaderBytes + Sample::entryBytes * entry);
        const std::uint32_t sensorId = readField(data, entryOffset);
        const std::uint64_t byteCount = readField(data, entryOffset + 4);
        if (byteCount == 0) {
            continue;
        }
        const std::optional<common::SensorKind> kind = common::sensorFor(sensorId);
        if (!kind) {
            return tl::unexpected(SampleError::lengthMismatch);
        }
        if (byteCount % elementSize(*kind) != 0) {
            common::logger().warning("Sensor size " + std::to_string(byteCount) + " invalid for sensor " +
                                     std::string(common::rawValue(*kind)) + ", ignoring sample");
            // Saturate past the end: the footer check below rejects the packet either way.
            payloadOffset =
                std::min<std::uint64_t>(payloadOffset + byteCount, data.size() + std::uint64_t{1});
            continue;
        }
        if (payloadOffset + byteCount > data.size()) {
            // The entries run past the packet: the footer cannot follow them.
            return tl::unexpected(SampleError::badFooterMagic);
        }
        onEntry(*kind,
                data.subspan(static_cast<std::size_t>(payloadOffset), static_cast<std::size_t>(byteCount)));
        payloadOffset += byteCount;
    }
    if (!holdsMagic(data, payloadOffset, Sample::FOOTER_MAGIC)) {
        return tl::unexpected(SampleError::badFooterMagic);
    }
    return stamp;
}

}  // namespace

tl::expected<Sample, SampleError> Sample::parse(std::span<const std::uint8_t> data,
                                                common::DeviceKind deviceKind) {
    Sample sample(deviceKind, 0);
    const auto stamp = walkPacket(data, [&](common::SensorKind kind, std::span<const std::uint8_t> bytes) {
        sample.enabledSensors.insert(kind);
        decodeEntry(sample, kind, bytes);
    });
    if (!stamp) {
        return tl::unexpected(stamp.error());
    }
    sample.timeStamp = *stamp;
    return sample;
}

tl::expected<void, SampleError> Sample::validate(std::span<const std::uint8_t> data) {
    const auto stamp = walkPacket(data, [](common::SensorKind, std::span<const std::uint8_t>) {});
    if (!stamp) {
        return tl::unexpected(stamp.error());
    }
    return {};
}

}  // namespace brisel::device
