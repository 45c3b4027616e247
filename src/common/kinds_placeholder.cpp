#include "common/kinds_placeholder.h"

#include <string>

#include "common/logger.h"

namespace brisel::common {

std::string_view rawValue(SensorKind kind) {
    switch (kind) {
        case SensorKind::ACCELEROMETER:
            return "accel";
        case SensorKind::ACCELEROMETER_LOWPOWER:
            return "accel_lowpower";
        case SensorKind::ACCELEROMETER_HIGHSENSITIVE:
            return "accel_highsensitive";
        case SensorKind::GYROSCOPE:
            return "gyro";
        case SensorKind::MAGNETOMETER:
            return "magno";
        case SensorKind::TEMPERATURE:
            return "temperature";
        case SensorKind::HUMIDITY:
            return "humidity";
        case SensorKind::PRESSURE:
            return "pressure";
        case SensorKind::PROXIMITY:
            return "proximity";
        case SensorKind::AMBIENT:
            return "ambient";
        case SensorKind::LIGHT:
            return "light";
        case SensorKind::MICROPHONE:
            return "microphone";
        case SensorKind::MICROPHONE_ANALOG:
            return "microphone_analog";
        case SensorKind::TVOC:
            return "tvoc";
        case SensorKind::ECO2:
            return "eco2";
        case SensorKind::ETOH:
            return "etoh";
        case SensorKind::RCDA:
            return "rcda";
        case SensorKind::IAQ:
            return "iaq";
        case SensorKind::RMOX:
            return "rmox";
        case SensorKind::CURRENT:
            return "current";
    }
    return "unknown";
}

std::optional<SensorKind> sensorKindFromRawValue(std::string_view text) {
    for (SensorKind kind : allSensorKinds) {
        if (rawValue(kind) == text) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<SensorKind> sensorFor(std::uint32_t index) {
    switch (index) {
        case 1:
            return SensorKind::ACCELEROMETER;
        case 2:
            return SensorKind::GYROSCOPE;
        case 3:
            return SensorKind::MAGNETOMETER;
        case 4:
            return SensorKind::PRESSURE;
        case 5:
            return SensorKind::TEMPERATURE;
        case 6:
            return SensorKind::HUMIDITY;
        case 7:
            return SensorKind::MICROPHONE;
        case 8:
            return SensorKind::ACCELEROMETER_LOWPOWER;
        case 9:
            return SensorKind::ACCELEROMETER_HIGHSENSITIVE;
        case 11:
            return SensorKind::PROXIMITY;
        case 12:
            return SensorKind::AMBIENT;
        case 13:
            return SensorKind::LIGHT;
        case 14:
            return SensorKind::TVOC;
        case 15:
            return SensorKind::ECO2;
        case 16:
            return SensorKind::ETOH;
        case 17:
            return SensorKind::RCDA;
        case 18:
            return SensorKind::IAQ;
        case 19:
            return SensorKind::RMOX;
        case 20:
            return SensorKind::CURRENT;
        default:
            break;
    }
    logger().critical("unknown sensor kind " + std::to_string(index));
    return std::nullopt;
}

std::string_view rawValue(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::SENSOR_TILE_BOX:
            return "SENSOR_TILE_BOX";
        case DeviceKind::NANO_33_BLE:
            return "NANO_33_BLE";
        case DeviceKind::NANO_33_BLE_REV2:
            return "NANO_33_BLE_REV2";
        case DeviceKind::NANO_33_IOT:
            return "NANO_33_IOT";
        case DeviceKind::STWINKT1:
            return "STWINKT1";
        case DeviceKind::STWINKT1_WIFI:
            return "STWINKT1_WIFI";
        case DeviceKind::PNG_STM32L4:
            return "PNG_STM32L4";
        case DeviceKind::PNG_STM32WB5MMG:
            return "PNG_STM32WB5MMG";
        case DeviceKind::NICLA_SENSE_ME:
            return "NICLA_SENSE_ME";
        case DeviceKind::HALDEN_I3MICRO:
            return "HALDEN_I3MICRO";
        case DeviceKind::HALDEN_FLAMENCO:
            return "HALDEN_FLAMENCO";
        case DeviceKind::HALDEN_FLAMENCO_ALT:
            return "HALDEN_FLAMENCO_ALT";
        case DeviceKind::QORVO_SAMD51:
            return "QORVO_SAMD51";
    }
    return "unknown";
}

}  // namespace brisel::common
