// The sensor kinds of the boards, the sensor numbers of sample packets, and the list of all sensors.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "common/enum_raw_values.h"

namespace brisel::common {

// Case order is the order of `allCases<SensorKind>()` and of `SENSOR_LIST`.
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

inline constexpr std::array<EnumRawValue<SensorKind>, 20> kSensorKindRawValues{{
    {SensorKind::ACCELEROMETER, "accel"},
    {SensorKind::ACCELEROMETER_LOWPOWER, "accel_lowpower"},
    {SensorKind::ACCELEROMETER_HIGHSENSITIVE, "accel_highsensitive"},
    {SensorKind::GYROSCOPE, "gyro"},
    {SensorKind::MAGNETOMETER, "magno"},
    {SensorKind::TEMPERATURE, "temperature"},
    {SensorKind::HUMIDITY, "humidity"},
    {SensorKind::PRESSURE, "pressure"},
    {SensorKind::PROXIMITY, "proximity"},
    {SensorKind::AMBIENT, "ambient"},
    {SensorKind::LIGHT, "light"},
    {SensorKind::MICROPHONE, "microphone"},
    {SensorKind::MICROPHONE_ANALOG, "microphone_analog"},
    {SensorKind::TVOC, "tvoc"},
    {SensorKind::ECO2, "eco2"},
    {SensorKind::ETOH, "etoh"},
    {SensorKind::RCDA, "rcda"},
    {SensorKind::IAQ, "iaq"},
    {SensorKind::RMOX, "rmox"},
    {SensorKind::CURRENT, "current"},
}};

constexpr const auto& enumRawValues(std::type_identity<SensorKind>) {
    return kSensorKindRawValues;
}

// The raw values of all sensor kinds in case order: a board's sensors when it is given none.
inline constexpr std::array<std::string_view, 20> SENSOR_LIST = [] {
    std::array<std::string_view, 20> list{};
    for (std::size_t index = 0; index < list.size(); ++index) {
        list[index] = kSensorKindRawValues[index].raw;
    }
    return list;
}();

// The sensor kind that a sample packet names by `index`. For a number that names no kind (0, 10 and
// every number above 20) it logs a critical line and returns none; the caller treats the data as
// invalid. Any thread.
std::optional<SensorKind> sensorFor(std::uint32_t index);

}  // namespace brisel::common
