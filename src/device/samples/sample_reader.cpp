#include "device/samples/sample_reader.h"

#include <pthread.h>

#include <exception>
#include <string>
#include <system_error>
#include <utility>

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
        lostBeforeFile_ = 0;
        packetsSinceSave_ = 0;
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
    lostBeforeFile_ = 0;
    packetsSinceSave_ = 0;
}

std::optional<std::filesystem::path> SampleReader::fileURL() const {
    assert(holdsFileLock());
    return file_.path();
}

std::int64_t SampleReader::packetCount() const {
    assert(holdsFileLock());
    return packetCount_;
}

std::int64_t SampleReader::packetsSinceSave() const {
    assert(holdsFileLock());
    return packetsSinceSave_;
}

bool SampleReader::waitForPacketCount(std::int64_t count,
                                      std::chrono::steady_clock::time_point deadline) const {
    assert(!holdsFileLock());
    std::unique_lock lock(fileMutex_);
    return packetsWritten_.wait_until(lock, deadline, [&] { return packetsSinceSave_ >= count; });
}

void SampleReader::beginRecording() {
    withFileLock([this] {
        for (const SavedSegment& ended : endedByGaps_) {
            std::error_code ignored;
            std::filesystem::remove(ended.path, ignored);
        }
        endedByGaps_.clear();
        totalPacketsSaved_.store(0);
        numPacketsLost_.store(0);
        setBinaryFileURL(OldFile::remove);
    });
}

tl::expected<SavedSegment, SegmentError> SampleReader::saveSegment(const SegmentHandOver& handOver) {
    struct Save {
        std::vector<SavedSegment> ended;
        tl::expected<SavedSegment, SegmentError> current;
    };
    Save save = withFileLock([this]() -> Save {
        if (keptForSync_) {
            return {{}, tl::unexpected(SegmentError::keptForSync)};
        }
        if (!file_.path()) {
            common::logger().error("No recording file to save at " + sourceLine() +
                                   "; start the data collection again.");
            return {{}, tl::unexpected(SegmentError::noRecordingFile)};
        }
        Save taken{std::exchange(endedByGaps_, {}), tl::unexpected(SegmentError::allPacketsLost)};
        numEmptyPackets_.store(0);
        if (packetCount_ == 0 && lostBeforeFile_ > 0) {
            // Nothing reached the file: the next one begins after the packets that were lost.
            totalPacketsSaved_.fetch_add(lostBeforeFile_);
            setBinaryFileURL(OldFile::remove);
            return taken;
        }
        taken.current = renameToSegment();
        setBinaryFileURL(OldFile::keep);
        return taken;
    });
    if (handOver) {
        for (const SavedSegment& ended : save.ended) {
            handOver(ended);
        }
        if (save.current) {
            handOver(*save.current);
        }
    }
    return save.current;
}

SavedSegment SampleReader::renameToSegment() {
    assert(holdsFileLock() && file_.path());
    SavedSegment segment;
    segment.firstPacketIndex = totalPacketsSaved_.load();
    segment.packetCount = packetCount_;
    common::logger().info("oldPacketsRecieved: " + std::to_string(segment.firstPacketIndex));
    common::logger().error("Renaming file: " + file_.path()->string());
    if (auto renamed = file_.rename(segmentFileName(segment.firstPacketIndex)); !renamed) {
        common::logger().error("Failed to rename file. Error: " + renamed.error());
    }
    segment.path = *file_.path();
    totalPacketsSaved_.store(segment.firstPacketIndex + segment.packetCount);
    return segment;
}

void SampleReader::lose(std::int64_t packets, const std::string& error) {
    assert(holdsFileLock());
    if (!writesFailing_) {
        writesFailing_ = true;
        const std::string where = file_.path() ? file_.path()->string() : file_.folder().string();
        common::logger().error("Could not write recorded samples to " + where + ": " + error +
                               ". Samples are being lost; free disk space and start the data "
                               "collection again.");
    }
    if (packetCount_ > 0) {
        // What the file holds is one unbroken run: it is a segment now, and the next file begins
        // with the next packet written, at its own index.
        endedByGaps_.push_back(renameToSegment());
        file_.begin(OldFile::keep, totalPacketsSaved_.load());
        packetCount_ = 0;
    }
    lostBeforeFile_ += packets;
    packetsSinceSave_ += packets;
    numPacketsLost_.fetch_add(packets);
    packetsWritten_.notify_all();
}

void SampleReader::closeGap() {
    assert(holdsFileLock() && packetCount_ == 0 && lostBeforeFile_ > 0);
    const std::int64_t first = totalPacketsSaved_.fetch_add(lostBeforeFile_) + lostBeforeFile_;
    common::logger().notice("Recorded samples reach the disk again; the " + std::to_string(lostBeforeFile_) +
                            " packets before packet " + std::to_string(first) + " were lost");
    lostBeforeFile_ = 0;
    // A sync after a crash takes the file's first packet index from its name.
    if (auto renamed = file_.renumber(first); !renamed) {
        common::logger().error("Could not rename " + file_.path()->string() + " to name its first packet " +
                               std::to_string(first) + ": " + renamed.error() +
                               "; after a crash, a collection sync would upload it at an earlier index");
    }
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
        auto written = file_.append(accepted);
        if (!written) {
            lose(packets, written.error());
            return;
        }
        if (lostBeforeFile_ > 0) {
            closeGap();
        }
        writesFailing_ = false;
        packetCount_ += packets;
        packetsSinceSave_ += packets;
        packetsWritten_.notify_all();
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
