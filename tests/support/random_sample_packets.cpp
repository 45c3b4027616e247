#include "support/random_sample_packets.h"

#include <algorithm>
#include <cstring>

namespace brisel::test_support {

namespace {

using common::SensorKind;

struct ComponentLayout {
    std::size_t count;
    std::size_t width;
    bool isSigned;
};

ComponentLayout layoutOf(SensorKind kind) {
    switch (kind) {
        case SensorKind::ACCELEROMETER:
        case SensorKind::ACCELEROMETER_LOWPOWER:
        case SensorKind::ACCELEROMETER_HIGHSENSITIVE:
        case SensorKind::GYROSCOPE:
        case SensorKind::MAGNETOMETER:
            return {3, 2, true};
        case SensorKind::AMBIENT:
            return {4, 2, true};
        case SensorKind::RMOX:
            return {13, 4, false};
        case SensorKind::PRESSURE:
        case SensorKind::ECO2:
            return {1, 4, true};
        case SensorKind::PROXIMITY:
            return {1, 1, false};
        default:
            return {1, 2, true};
    }
}

template <typename Element>
void flattenMagnitudes(const std::vector<Element>& elements, std::vector<std::int64_t>& out) {
    for (const auto& e : elements) {
        out.insert(out.end(), {e.x, e.y, e.z});
    }
}

template <typename Scalar>
void flattenScalars(const std::vector<Scalar>& elements, std::vector<std::int64_t>& out) {
    for (Scalar value : elements) {
        out.push_back(value);
    }
}

bool holdsFooter(const std::vector<std::uint8_t>& bytes) {
    const auto& footer = device::Sample::FOOTER_MAGIC;
    return std::search(bytes.begin(), bytes.end(), footer.begin(), footer.end()) != bytes.end();
}

}  // namespace

std::uint32_t sensorIdOf(SensorKind kind) {
    for (std::uint32_t id = 1; id <= 20; ++id) {
        if (id != 10 && common::sensorFor(id) == kind) {
            return id;
        }
    }
    return 0;
}

GeneratedPacket randomValidPacket(std::mt19937_64& random, std::size_t maxEntries, std::size_t maxElements) {
    std::vector<SensorKind> usable;
    for (SensorKind kind : common::allCases<common::SensorKind>()) {
        if (kind != SensorKind::MICROPHONE_ANALOG) {
            usable.push_back(kind);
        }
    }
    for (;;) {
        GeneratedPacket packet;
        packet.contents.timeStamp = static_cast<std::uint32_t>(random());
        const std::size_t entries = std::uniform_int_distribution<std::size_t>(0, maxEntries)(random);
        for (std::size_t e = 0; e < entries; ++e) {
            const SensorKind kind =
                usable[std::uniform_int_distribution<std::size_t>(0, usable.size() - 1)(random)];
            const ComponentLayout layout = layoutOf(kind);
            const std::size_t elements = std::uniform_int_distribution<std::size_t>(0, maxElements)(random);
            device::SampleEntry entry{sensorIdOf(kind), {}};
            auto& values = packet.components[kind];
            for (std::size_t n = 0; n < elements * layout.count; ++n) {
                const std::uint64_t raw = random();
                std::int64_t value = 0;
                for (std::size_t byte = 0; byte < layout.width; ++byte) {
                    entry.bytes.push_back(static_cast<std::uint8_t>(raw >> (8 * byte)));
                }
                const std::uint64_t mask = layout.width == 8 ? ~0ULL : ((1ULL << (8 * layout.width)) - 1);
                const std::uint64_t truncated = raw & mask;
                const std::uint64_t signBit = 1ULL << (8 * layout.width - 1);
                if (layout.isSigned && (truncated & signBit) != 0) {
                    value = static_cast<std::int64_t>(truncated) - static_cast<std::int64_t>(mask) - 1;
                } else {
                    value = static_cast<std::int64_t>(truncated);
                }
                values.push_back(value);
            }
            packet.contents.entries.push_back(std::move(entry));
        }
        // Only entries with elements enable a kind.
        std::erase_if(packet.components, [](const auto& kindValues) { return kindValues.second.empty(); });
        packet.bytes = device::buildSamplePacket(packet.contents);
        // The footer magic inside a packet would end it early; draw again (rare).
        const std::vector<std::uint8_t> inner(packet.bytes.begin(), packet.bytes.end() - 8);
        if (!holdsFooter(inner)) {
            return packet;
        }
    }
}

std::vector<std::int64_t> componentsOf(const device::Sample& sample, SensorKind kind) {
    std::vector<std::int64_t> out;
    switch (kind) {
        case SensorKind::ACCELEROMETER:
            flattenMagnitudes(sample.accel, out);
            break;
        case SensorKind::ACCELEROMETER_LOWPOWER:
            flattenMagnitudes(sample.accelLowPower, out);
            break;
        case SensorKind::ACCELEROMETER_HIGHSENSITIVE:
            flattenMagnitudes(sample.accelHighPower, out);
            break;
        case SensorKind::GYROSCOPE:
            flattenMagnitudes(sample.gyro, out);
            break;
        case SensorKind::MAGNETOMETER:
            flattenMagnitudes(sample.magno, out);
            break;
        case SensorKind::AMBIENT:
            for (const auto& e : sample.ambient) {
                out.insert(out.end(), {e.c, e.r, e.g, e.b});
            }
            break;
        case SensorKind::RMOX:
            for (const auto& e : sample.rmox) {
                out.insert(out.end(), e.receivedData.begin(), e.receivedData.end());
            }
            break;
        case SensorKind::PRESSURE:
            flattenScalars(sample.pressure, out);
            break;
        case SensorKind::ECO2:
            flattenScalars(sample.eco2, out);
            break;
        case SensorKind::PROXIMITY:
            flattenScalars(sample.proximity, out);
            break;
        case SensorKind::TEMPERATURE:
            flattenScalars(sample.temperature, out);
            break;
        case SensorKind::HUMIDITY:
            flattenScalars(sample.humidity, out);
            break;
        case SensorKind::LIGHT:
            flattenScalars(sample.light, out);
            break;
        case SensorKind::MICROPHONE:
            flattenScalars(sample.microphone, out);
            break;
        case SensorKind::TVOC:
            flattenScalars(sample.tvoc, out);
            break;
        case SensorKind::ETOH:
            flattenScalars(sample.etoh, out);
            break;
        case SensorKind::RCDA:
            flattenScalars(sample.rcda, out);
            break;
        case SensorKind::IAQ:
            flattenScalars(sample.iaq, out);
            break;
        case SensorKind::CURRENT:
            flattenScalars(sample.current, out);
            break;
        case SensorKind::MICROPHONE_ANALOG:
            break;
    }
    return out;
}

}  // namespace brisel::test_support
