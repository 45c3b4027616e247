#include "device/boards/brisel_wifi_device.h"

#include <thread>
#include <utility>

#include "common/logger.h"
#include "device/samples/source_line.h"
#include "device/wifi/wifi_byte_source.h"

namespace brisel::device {

using common::logger;

std::shared_ptr<BriselWifiDevice> BriselWifiDevice::initDataCollection(
    common::DeviceKind deviceKind, std::optional<SensorOdrs> sensorOdrs, int maxConnectionRetries,
    std::int64_t collectionID, BoardSettings settings, std::shared_ptr<WifiServer> server) {
    for (int attempt = 0; attempt < maxConnectionRetries; ++attempt) {
        WifiDevice wifiDevice(server);
        if (const auto& connection = wifiDevice.wifiServerConnection(); connection) {
            connection->startSave();
            return std::make_shared<BriselWifiDevice>(std::move(wifiDevice), std::nullopt, std::nullopt,
                                                      deviceKind, std::move(sensorOdrs), collectionID,
                                                      std::move(settings));
        }
        std::this_thread::sleep_for(settings.retryPause);
    }
    logger().error("WIFI: Could not find device of type " + std::string(common::rawValue(deviceKind)) +
                   " at " + sourceLine() +
                   "; switch the board on, check that it joined the same network as this computer and "
                   "start again");
    return nullptr;
}

BriselWifiDevice::BriselWifiDevice(WifiDevice wifiDevice, std::optional<std::int64_t> maxLen,
                                   std::optional<std::vector<std::string>> sensors,
                                   common::DeviceKind deviceKind, std::optional<SensorOdrs> sensorOdrs,
                                   std::int64_t collectionID, BoardSettings settings)
    : BriselDeviceBase(maxLen, std::move(sensors), deviceKind, std::move(sensorOdrs), collectionID,
                       std::move(settings)),
      wifiDevice_(std::move(wifiDevice)) {}

BriselWifiDevice::~BriselWifiDevice() {
    close();
}

void BriselWifiDevice::startReadThread() {
    markReadStart();
    SampleReader* reader = sampleReader();
    if (reader == nullptr) {
        logger().critical("WIFI: Sample Reader nil at " + sourceLine());
        return;
    }
    const auto& connection = wifiDevice_.wifiServerConnection();
    if (!connection) {
        logger().critical("WIFI: Connection not established at " + sourceLine() +
                          "; switch the board on and start the data collection again");
        return;
    }
    reader->start(std::make_unique<WifiByteSource>(connection));
}

void BriselWifiDevice::close() {
    stopReadThread();
    if (const auto& connection = wifiDevice_.wifiServerConnection(); connection) {
        connection->stopSave();
    }
}

}  // namespace brisel::device
