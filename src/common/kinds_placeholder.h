// Board and sensor kinds as far as the sample stream needs them. Stand-in until the shared kinds
// header is merged; the names and values match it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brisel::common {

enum class DeviceKind {
    SENSOR_TILE_BOX,
    NANO_33_BLE,
    NANO_33_BLE_REV2,
    NANO_33_IOT,
    STWINKT1,
    STWINKT1_WIFI,
    PNG_STM32L4,
    PNG_STM32WB5MMG,
    NICLA_SENSE_ME,
    HALDEN_I3MICRO,
    HALDEN_FLAMENCO,
    HALDEN_FLAMENCO_ALT,
    QORVO_SAMD51,
};

enum class SensorKind {
    ACCELEROMETER,
    ACCELEROMETER_LOWPOWER,
    ACCELEROMETER_HIGHSENSITIVE,
    GYROSCOPE,
    MAGNETOMETER,
    TEMPERATURE,
    HUMIDITY,
    PRESSURE,
    PROXIMITY,
    AMBIENT,
    LIGHT,
    MICROPHONE,
    MICROPHONE_ANALOG,
    TVOC,
    ECO2,
    ETOH,
    RCDA,
    IAQ,
    RMOX,
    CURRENT,
};

inline constexpr std::array<SensorKind, 20> allSensorKinds = {
    SensorKind::ACCELEROMETER,
    SensorKind::ACCELEROMETER_LOWPOWER,
    SensorKind::ACCELEROMETER_HIGHSENSITIVE,
    SensorKind::GYROSCOPE,
    SensorKind::MAGNETOMETER,
    SensorKind::TEMPERATURE,
    SensorKind::HUMIDITY,
    SensorKind::PRESSURE,
    SensorKind::PROXIMITY,
    SensorKind::AMBIENT,
    SensorKind::LIGHT,
    SensorKind::MICROPHONE,
    SensorKind::MICROPHONE_ANALOG,
    SensorKind::TVOC,
    SensorKind::ECO2,
    SensorKind::ETOH,
    SensorKind::RCDA,
    SensorKind::IAQ,
    SensorKind::RMOX,
    SensorKind::CURRENT,
};

// The raw value of a sensor kind ("accel", "gyro", ...).
std::string_view rawValue(SensorKind kind);
// The kind whose raw value is exactly `text`, or none.
std::optional<SensorKind> sensorKindFromRawValue(std::string_view text);
// The kind that a sample packet's sensor id names. Ids 0, 10 and above 20 name none: logs at critical
// "unknown sensor kind <id>" and gives none. Any thread.
std::optional<SensorKind> sensorFor(std::uint32_t index);

// The raw value of a board kind (its case name).
std::string_view rawValue(DeviceKind kind);

}  // namespace brisel::common
