#include "device/boards/brisel_device_base.h"

#include <thread>
#include <utility>

#include "common/logger.h"
#include "common/paths.h"
#include "device/samples/source_line.h"

namespace brisel::device {
namespace {

using common::logger;

std::vector<std::string> sensorNamesOrAll(std::optional<std::vector<std::string>> sensors) {
    if (sensors) {
        return std::move(*sensors);
    }
    return std::vector<std::string>(common::SENSOR_LIST.begin(), common::SENSOR_LIST.end());
}

}  // namespace

BriselDeviceBase::BriselDeviceBase(std::optional<std::int64_t> maxLen,
                                   std::optional<std::vector<std::string>> sensors,
                                   common::DeviceKind deviceKind, std::optional<SensorOdrs> sensorOdrs,
                                   std::int64_t collectionID, BoardSettings settings)
    : maxLen_(maxLen),
      sensors_(sensorNamesOrAll(std::move(sensors))),
      deviceKind_(deviceKind),
      sensorOdrs_(std::move(sensorOdrs)),
      settings_(std::move(settings)) {
    if (settings_.temporaryDirectory) {
        outDir_ = *settings_.temporaryDirectory;
    } else if (auto folder = common::privateTempFolder(); folder) {
        outDir_ = *folder;
    } else {
        logger().error("Cannot record from the board: the temporary folder is not usable (" + folder.error() +
                       "); fix or remove it and start the data collection again");
        return;
    }
    sampleReader_ = std::make_unique<SampleReader>(
        deviceKind_, collectionID, outDir_, [this] { disconnected(); }, settings_.reader);
}

BriselDeviceBase::~BriselDeviceBase() {
    stopReadThread();
}

void BriselDeviceBase::reset() {
    if (sampleReader_) {
        sampleReader_->beginRecording();
    }
    startReadThread();
    std::this_thread::sleep_for(settings_.resetSettle);
}

void BriselDeviceBase::close() {}

void BriselDeviceBase::stopReadThread() {
    if (sampleReader_) {
        sampleReader_->stopReading();
    }
}

tl::expected<SavedSegment, SegmentError> BriselDeviceBase::saveBinaryFile(SegmentUploader& uploader) {
    if (!sampleReader_) {
        logger().critical("Sample reader nil in " + sourceLine());
        return tl::unexpected(SegmentError::noRecordingFile);
    }
    return sampleReader_->saveSegment(
        [&uploader](const SavedSegment& segment) { uploader.process(segment); });
}

DeviceStatus BriselDeviceBase::getDeviceState(const SegmentUploader& dataUploader) {
    if (!sampleReader_) {
        logger().info("Device detected disconnected at " + sourceLine());
        return DeviceStatus::DEVICE_DISCONNECTED;
    }
    const std::int64_t packets = sampleReader_->withFileLock([this] { return sampleReader_->packetCount(); });
    if (packets > kPacketsBeforeNotTransmitting && dataUploader.receivedEmptySegment()) {
        return DeviceStatus::DEVICE_NOT_TRANSMITTING_DATA;
    }
    return DeviceStatus::DEVICE_OK;
}

std::int64_t BriselDeviceBase::totalPacketsReceived() const {
    return sampleReader_ ? sampleReader_->totalPacketsSaved() : 0;
}

void BriselDeviceBase::setDisconnectEvent(std::function<void()> event) {
    auto shared = event ? std::make_shared<const std::function<void()>>(std::move(event)) : nullptr;
    std::lock_guard lock(fieldsMutex_);
    disconnectEvent_ = std::move(shared);
}

void BriselDeviceBase::disconnected() {
    std::shared_ptr<const std::function<void()>> event;
    {
        std::lock_guard lock(fieldsMutex_);
        event = disconnectEvent_;
    }
    if (event) {
        (*event)();
    }
}

std::optional<BriselDeviceBase::Clock::time_point> BriselDeviceBase::readTime() const {
    std::lock_guard lock(fieldsMutex_);
    return readTime_;
}

void BriselDeviceBase::markReadStart() {
    const auto now = Clock::now();
    std::lock_guard lock(fieldsMutex_);
    readTime_ = now;
}

}  // namespace brisel::device
