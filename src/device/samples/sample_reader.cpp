#include "device/samples/sample_reader.h"

#include <pthread.h>

#include <exception>
#include <string>

#include "common/logger.h"
#include "device/samples/source_line.h"

namespace brisel::device {

namespace {

// Thread names are limited to 15 bytes: keep the end of the label, which tells readers apart.
void nameCurrentThread(std::string_view label) {
    constexpr std::size_t maxNameBytes = 15;
    const std::string name(label.size() > maxNameBytes ? label.substr(label.size() - maxNameBytes) : label);
    pthread_setname_np(pthread_self(), name.c_str());
}

}  // namespace

SampleReader::SampleReader(common::DeviceKind deviceKind, std::int64_t collectionID,
                           const std::filesystem::path& temporaryDirectory,
                           std::function<void()> disconnectEvent, SampleReaderOptions options)
    : deviceKind_(deviceKind),
      collectionID_(collectionID),
      disconnectEvent_(std::move(disconnectEvent)),
      options_(options),
      lastReadTicks_(std::chrono::steady_clock::now().time_since_epoch().count()),
      file_(temporaryDirectory / collectionsFolderName / std::to_string(collectionID),
            options.renameNoReplace) {}

SampleReader::~SampleReader() {
    stop();
}

void SampleReader::start(std::unique_ptr<ByteSource> source) {
    std::lock_guard lifecycle(lifecycleMutex_);
    if (loopThread_.joinable() || !source) {
        return;
    }
    source_ = std::move(source);
    running_.store(true);
    loopThread_ = std::thread([this] { loop(); });
}

void SampleReader::stop() {
    stopReading();
    withFileLock([this] {
        file_.remove();
        packetCount_ = 0;
    });
}

void SampleReader::stopReading() {
    std::lock_guard lifecycle(lifecycleMutex_);
    running_.store(false);
    if (loopThread_.joinable()) {
        assert(loopThread_.get_id() != std::this_thread::get_id());
        source_->interrupt();
        loopThread_.join();
    }
    source_.reset();
}

bool SampleReader::hasLoop() const {
    std::lock_guard lifecycle(lifecycleMutex_);
    return loopThread_.joinable();
}

void SampleReader::setBinaryFileURL(OldFile old) {
    assert(holdsFileLock());
    if (keptForSync_) {
        return;
    }
    file_.begin(old, totalPacketsSaved_.load());
    packetCount_ = 0;
    lostInFile_ = 0;
    writeFailureLogged_ = false;
}

std::optional<std::filesystem::path> SampleReader::fileURL() const {
    assert(holdsFileLock());
    return file_.path();
}

std::int64_t SampleReader::packetCount() const {
    assert(holdsFileLock());
    return packetCount_;
}

bool SampleReader::waitForPacketCount(std::int64_t count,
                                      std::chrono::steady_clock::time_point deadline) const {
    assert(!holdsFileLock());
    std::unique_lock lock(fileMutex_);
    return packetsWritten_.wait_until(lock, deadline, [&] { return packetCount_ >= count; });
}

void SampleReader::beginRecording() {
    withFileLock([this] {
        totalPacketsSaved_.store(0);
        setBinaryFileURL(OldFile::remove);
    });
}

tl::expected<SavedSegment, SegmentError> SampleReader::saveSegment(const SegmentHandOver& handOver) {
    auto saved = withFileLock([this]() -> tl::expected<SavedSegment, SegmentError> {
        if (keptForSync_) {
            return tl::unexpected(SegmentError::keptForSync);
        }
        if (!file_.path()) {
            common::logger().error("No recording file to save at " + sourceLine() +
                                   "; start the data collection again.");
            return tl::unexpected(SegmentError::noRecordingFile);
        }
        SavedSegment segment = renameToSegment();
        numEmptyPackets_.store(0);
        setBinaryFileURL(OldFile::keep);
        return segment;
    });
    if (saved && handOver) {
        handOver(*saved);
    }
    return saved;
}

SavedSegment SampleReader::renameToSegment() {
    assert(holdsFileLock() && file_.path());
    SavedSegment segment;
    segment.firstPacketIndex = totalPacketsSaved_.load();
    segment.packetCount = packetCount_;
    segment.packetsLost = lostInFile_;
    common::logger().info("oldPacketsRecieved: " + std::to_string(segment.firstPacketIndex));
    common::logger().error("Renaming file: " + file_.path()->string());
    if (auto renamed = file_.rename(segmentFileName(segment.firstPacketIndex)); !renamed) {
        common::logger().error("Failed to rename file. Error: " + renamed.error());
    }
    segment.path = *file_.path();
    totalPacketsSaved_.store(segment.firstPacketIndex + segment.packetCount + segment.packetsLost);
    return segment;
}

std::optional<SavedSegment> SampleReader::keepForSync() {
    return withFileLock([this]() -> std::optional<SavedSegment> {
        if (keptForSync_) {
            return std::nullopt;
        }
        keptForSync_ = true;
        if (!file_.path()) {
            return std::nullopt;
        }
        if (packetCount_ == 0) {
            file_.remove();
            file_.release();
            return std::nullopt;
        }
        SavedSegment segment = renameToSegment();
        if (auto persisted = file_.persist(); !persisted) {
            common::logger().error("Could not put " + segment.path.string() + " on the disk: " +
                                   persisted.error() + "; a power loss now may lose its samples");
        }
        file_.release();
        return segment;
    });
}

std::optional<int> SampleReader::integrityCheckErrorCode() const {
    const int code = integrityCheckErrorCode_.load();
    if (code == 0) {
        return std::nullopt;
    }
    return code;
}

void SampleReader::loop() noexcept {
    nameCurrentThread(loopLabel);
    try {
        PacketCutter cutter(options_.maxPacketBytes);
        if (auto ended = readUntilStopped(cutter); !ended) {
            endOnLinkFailure(toString(ended.error()));
        }
    } catch (const std::exception& error) {
        endOnLinkFailure(error.what());
    }
}

tl::expected<void, PortError> SampleReader::readUntilStopped(PacketCutter& cutter) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::uint8_t> incoming;
    std::vector<std::span<const std::uint8_t>> accepted;
    auto lastNewBytes = Clock::now();
    while (running_.load()) {
        const auto silence = Clock::now() - lastNewBytes;
        if (silence >= options_.silenceLimit) {
            return tl::unexpected(PortError{PortError::Kind::deviceNotConnected, {}});
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(options_.silenceLimit - silence);
        incoming.clear();
        auto received = source_->readSome(incoming, wait);
        if (!received) {
            return tl::unexpected(received.error());
        }
        if (*received == 0) {
            continue;
        }
        lastNewBytes = Clock::now();
        lastReadTicks_.store(lastNewBytes.time_since_epoch().count());
        accepted.clear();
        const CutReport report = cutter.feed(incoming, accepted);
        record(report, accepted);
        std::this_thread::sleep_for(options_.passPause);
    }
    return {};
}

void SampleReader::record(const CutReport& report,
                          const std::vector<std::span<const std::uint8_t>>& accepted) {
    if (report.rejectedPackets > 0) {
        const auto rejected = static_cast<std::int64_t>(report.rejectedPackets);
        numPacketsDropped_.fetch_add(rejected);
        numEmptyPackets_.fetch_add(rejected);
        integrityCheckFailed_.store(true);
        if (report.lastError) {
            integrityCheckErrorCode_.store(sampleErrorCode(*report.lastError));
        }
    }
    if (report.acceptedPackets == 0) {
        return;
    }
    const auto packets = static_cast<std::int64_t>(report.acceptedPackets);
    withFileLock([&] {
        if (keptForSync_) {
            return;  // the service is stopping; its recordings are kept as they were
        }
        if (auto written = file_.append(accepted); written) {
            packetCount_ += packets;
            packetsWritten_.notify_all();
            return;
        } else if (!writeFailureLogged_) {
            writeFailureLogged_ = true;
            const std::string where = file_.path() ? file_.path()->string() : file_.folder().string();
            common::logger().error("Could not write recorded samples to " + where + ": " + written.error() +
                                   ". Samples are being lost; free disk space and start the data "
                                   "collection again.");
        }
        lostInFile_ += packets;
        numPacketsLost_.fetch_add(packets);
    });
}

void SampleReader::endOnLinkFailure(std::string_view reason) {
    common::logger().error("Error occured during read: " + std::string(reason));
    running_.store(false);
    disconnected_.store(true);
    if (disconnectEvent_) {
        disconnectEvent_();
    }
}

}  // namespace brisel::device
