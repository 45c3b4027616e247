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

tl::expected<SavedSegment, SegmentError> BriselDeviceBase::saveBinaryFile(const SegmentHandOver& handOver) {
    savesInProgress_.fetch_add(1);
    struct SaveDone {
        std::atomic<int>& count;
        ~SaveDone() { count.fetch_sub(1); }
    } done{savesInProgress_};
    if (!sampleReader_) {
        logger().critical("Sample reader nil in " + sourceLine());
        return tl::unexpected(SegmentError::noRecordingFile);
    }
    return sampleReader_->saveSegment(handOver);
}

DeviceStatus BriselDeviceBase::getDeviceState(std::optional<cloud::StreamingUploaderError> uploaderError) {
    if (!sampleReader_) {
        logger().info("Device detected disconnected at " + sourceLine());
        return DeviceStatus::DEVICE_DISCONNECTED;
    }
    const std::int64_t packets = sampleReader_->withFileLock([this] { return sampleReader_->packetCount(); });
    if (packets > kPacketsBeforeNotTransmitting &&
        uploaderError == cloud::StreamingUploaderError::NoDataReceived) {
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

std::optional<std::string> BriselDeviceBase::label() const {
    std::lock_guard lock(fieldsMutex_);
    return label_;
}

void BriselDeviceBase::setLabel(std::optional<std::string> label) {
    std::lock_guard lock(fieldsMutex_);
    label_ = std::move(label);
}

std::optional<BriselDeviceBase::Clock::time_point> BriselDeviceBase::readTime() const {
    std::lock_guard lock(fieldsMutex_);
    return readTime_;
}

std::optional<BriselDeviceBase::Clock::time_point> BriselDeviceBase::dcStartTime() const {
    std::lock_guard lock(fieldsMutex_);
    return dcStartTime_;
}

void BriselDeviceBase::setDcStartTime(std::optional<Clock::time_point> time) {
    std::lock_guard lock(fieldsMutex_);
    dcStartTime_ = time;
}

std::optional<BriselDeviceBase::Clock::time_point> BriselDeviceBase::dcStopTime() const {
    std::lock_guard lock(fieldsMutex_);
    return dcStopTime_;
}

void BriselDeviceBase::setDcStopTime(std::optional<Clock::time_point> time) {
    std::lock_guard lock(fieldsMutex_);
    dcStopTime_ = time;
}

void BriselDeviceBase::markReadStart() {
    const auto now = Clock::now();
    std::lock_guard lock(fieldsMutex_);
    readTime_ = now;
    dcStartTime_ = now;
}

void BriselDeviceBase::saveBinaryFile(cloud::StreamingUploader& uploader) {
    saveBinaryFile([&uploader](const SavedSegment& segment) {
        uploader.process(segment.path, segment.firstPacketIndex, true);
    });
}

DeviceStatus BriselDeviceBase::getDeviceState(const cloud::StreamingUploader& dataUploader) {
    return getDeviceState(dataUploader.exceptionType());
}

}  // namespace brisel::device
