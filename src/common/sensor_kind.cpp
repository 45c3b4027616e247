#include "common/sensor_kind.h"

#include <string>

#include "common/logger.h"

namespace brisel::common {

namespace {

void logUnknownSensorAt(std::string_view file, int line) {
    logger().critical("unknown sensor kind " + std::string(file) + ":" + std::to_string(line));
}

}  // namespace

std::optional<SensorKind> sensorFor(std::uint32_t index) {
    switch (index) {
        case 0:
            logger().critical("unknown sensor kind");
            return std::nullopt;
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
            logUnknownSensorAt(__FILE__, __LINE__);
            return std::nullopt;
    }
}

}  // namespace brisel::common
