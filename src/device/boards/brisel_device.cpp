#include "device/boards/brisel_device.h"

#include <charconv>
#include <cmath>
#include <thread>

#include "common/logger.h"
#include "device/samples/source_line.h"
#include "device/serial/serial_byte_source.h"

namespace brisel::device {
namespace {

using common::logger;

constexpr int kOpenAttempts = 10;
// Magnitudes above 2^54 are written in exponent form.
constexpr double kLargestFixedMagnitude = 18014398509481984.0;

std::string charsOf(double value, std::chars_format format) {
    char text[64];
    auto result = std::to_chars(std::begin(text), std::end(text), value, format);
    return std::string(text, result.ptr);
}

}  // namespace

BaudRate boardBaudRate(common::DeviceKind kind) {
    switch (kind) {
        case common::DeviceKind::NICLA_SENSE_ME:
        case common::DeviceKind::HALDEN_I3MICRO:
            return BaudRate::baud921600;
        case common::DeviceKind::HALDEN_FLAMENCO:
        case common::DeviceKind::HALDEN_FLAMENCO_ALT:
            return BaudRate::baud1500000;
        default:
            return BaudRate::baud115200;
    }
}

std::string defaultDoubleText(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    const double magnitude = std::fabs(value);
    if (magnitude != 0.0 && (magnitude < 1e-4 || magnitude > kLargestFixedMagnitude)) {
        return charsOf(value, std::chars_format::scientific);
    }
    std::string text = charsOf(value, std::chars_format::fixed);
    if (text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

std::string contaminationThresholdCommand(double threshold) {
    return "mContamination_threshold:" + defaultDoubleText(threshold) + ",\r\n";
}

bool writeContaminationThreshold(USBDevice& port, double threshold) {
    if (!std::isfinite(threshold)) {
        logger().error("Failed to set contamination threshold mapping due to the threshold " +
                       defaultDoubleText(threshold) + ", which is not a number, at " + sourceLine() +
                       "; train the model again");
        return false;
    }
    const std::string command = contaminationThresholdCommand(threshold);
    auto written = port.writeData(command);
    if (!written) {
        logger().error("Failed to set contamination threshold mapping due to " + toString(written.error()) +
                       " at " + sourceLine());
        return false;
    }
    if (*written != command.size()) {
        logger().critical("Could no write all bytes " + sourceLine());
        return false;
    }
    return true;
}

std::shared_ptr<BriselDevice> BriselDevice::initDataCollection(common::DeviceKind deviceKind,
                                                               std::optional<SensorOdrs> sensorOdrs,
                                                               int maxConnectionRetries,
                                                               std::int64_t collectionID,
                                                               BoardSettings settings) {
    for (int attempt = 0; attempt < maxConnectionRetries; ++attempt) {
        std::optional<USBDevice> port =
            USBManager::findPort(deviceKind, PortMode::application, settings.flamencoSettleWait);
        if (!port) {
            std::this_thread::sleep_for(settings.retryPause);
            continue;
        }
        auto board = std::make_shared<BriselDevice>(std::move(*port), std::nullopt, std::nullopt, deviceKind,
                                                    sensorOdrs, collectionID, settings);
        for (int opening = 0; opening < kOpenAttempts; ++opening) {
            if (board->open()) {
                return board;
            }
            std::this_thread::sleep_for(settings.retryPause);
        }
        return nullptr;
    }
    logger().error("Could not find device of type " + std::string(common::rawValue(deviceKind)) + " at " +
                   sourceLine() + "; plug the board in (or press its reset button) and start again");
    return nullptr;
}

BriselDevice::BriselDevice(USBDevice usbDevice, std::optional<std::int64_t> maxLen,
                           std::optional<std::vector<std::string>> sensors, common::DeviceKind deviceKind,
                           std::optional<SensorOdrs> sensorOdrs, std::int64_t collectionID,
                           BoardSettings settings)
    : BriselDeviceBase(maxLen, std::move(sensors), deviceKind, std::move(sensorOdrs), collectionID,
                       std::move(settings)),
      usbDevice_(std::move(usbDevice)) {}

BriselDevice::~BriselDevice() {
    stopReadThread();
}

bool BriselDevice::open() {
    auto opened = usbDevice_.open(boardBaudRate(deviceKind()), StopBits::stopBits1, ParityType::none,
                                  DataBitsSize::bits8);
    if (opened) {
        logger().info("Device connection opened");
        return true;
    }
    switch (opened.error().kind) {
        case PortError::Kind::invalidPath:
            logger().error("Invalid device path: " + usbDevice_.kindName() + " " +
                           toString(usbDevice_.ids()) + " has no device node at " + sourceLine() +
                           "; plug the board in again");
            break;
        case PortError::Kind::failedToOpen:
            logger().error("Could not connect to device " + sourceLine());
            break;
        default:
            logger().error("Device connection error: " + toString(opened.error()) + " " + sourceLine());
            break;
    }
    return false;
}

void BriselDevice::startReadThread() {
    markReadStart();
    SampleReader* reader = sampleReader();
    if (reader == nullptr) {
        logger().critical("Sample Reader nil at " + sourceLine());
        return;
    }
    if (!usbDevice_.deviceOpen()) {
        logger().critical("Connection not established at " + sourceLine());
        return;
    }
    reader->start(std::make_unique<SerialByteSource>(usbDevice_));
}

void BriselDevice::close() {
    stopReadThread();
    usbDevice_.close();
}

bool BriselDevice::setContaminationThreshold(double threshold) {
    return writeContaminationThreshold(usbDevice_, threshold);
}

}  // namespace brisel::device
