#include "workflows/collection/recording.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "cloud/services.h"
#include "common/dispatch.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "device/boards/brisel_device.h"

namespace brisel::workflows {
namespace {

using common::logger;
using device::DeviceStatus;
using Status = frame::BriselDataCollectionResponseStatus;
using namespace std::chrono_literals;

constexpr std::string_view kDisconnectedText =
    "Device got disconnected. Please connect the device again and restart the process.";
constexpr std::string_view kNotRespondingText = "Device not responding. Please reset the device.";

// A segment is saved every this many seconds of recording, when the file holds enough packets.
constexpr std::int64_t kSegmentSeconds = 10;
constexpr std::int64_t kMinPacketsPerSegment = 40;
constexpr std::int64_t kMinInstancesForSegments = 11;
constexpr std::int64_t kMaxCheckInterval = 10;
// The packet rate behind the completeness warning, and its tolerance.
constexpr double kExpectedPacketsPerSecond = 20.0;
constexpr double kPacketTolerance = 0.01;
// Waits, all scaled.
constexpr auto kLoopPause = 25ms;
constexpr auto kUploadWaitLimit = 60s;
constexpr auto kPacketWaitLimit = 60s;
constexpr auto kSettleBeforeUploadWait = 2s;

// Seconds of recording in `real` time: real seconds divided by the time scale.
template <class Duration>
double recordingSeconds(Duration real) {
    return std::chrono::duration<double>(real).count() / common::timeScale();
}

void pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(common::scaled(duration));
}

bool reportsSilence(common::DeviceKind kind) {
    return kind == common::DeviceKind::HALDEN_FLAMENCO || kind == common::DeviceKind::HALDEN_I3MICRO;
}

// n / 10 rounded up, for any n >= 0 without overflow.
std::int64_t expectedSegments(std::int64_t n) {
    return n / kSegmentSeconds + (n % kSegmentSeconds != 0 ? 1 : 0);
}

}  // namespace

// The recording's clock and the cloud's acknowledgement of its start, shared with the completion of
// the start call: while the gate is open an acknowledgement begins the recording again, with an empty
// file and the clock at zero. Any thread.
class Recording::StartGate {
  public:
    explicit StartGate(std::shared_ptr<device::BriselDeviceBase> recorded) : board(std::move(recorded)) {}

    // The clock counts from `time`.
    void startClock(std::optional<Clock::time_point> time) {
        std::lock_guard lock(mutex);
        startTime = time;
    }

    std::optional<Clock::time_point> clockStart() const {
        std::lock_guard lock(mutex);
        return startTime;
    }

    // Acknowledgements restart the recording from now on.
    void open() {
        std::lock_guard lock(mutex);
        isOpen = true;
    }

    // Later acknowledgements change nothing; the gate lets the board go.
    void close() {
        std::lock_guard lock(mutex);
        isOpen = false;
        board.reset();
    }

    void acknowledged() {
        std::lock_guard lock(mutex);
        if (!isOpen || !board) {
            return;
        }
        if (device::SampleReader* reader = board->sampleReader(); reader != nullptr) {
            reader->withFileLock([reader] { reader->setBinaryFileURL(device::OldFile::remove); });
        }
        startTime = Clock::now();
    }

  private:
    mutable std::mutex mutex;
    std::shared_ptr<device::BriselDeviceBase> board;  // guarded by mutex
    std::optional<Clock::time_point> startTime;       // guarded by mutex
    bool isOpen = false;                              // guarded by mutex
};

Recording::Recording(CollectionReporter replies, std::shared_ptr<device::BriselDeviceBase> device,
                     std::shared_ptr<cloud::StreamingUploader> segmentUploader, std::int64_t collection,
                     std::int64_t length, const RecordingStop& stopSignal)
    : reporter(std::move(replies)),
      board(std::move(device)),
      uploader(std::move(segmentUploader)),
      collectionID(collection),
      numInstances(length),
      stop(stopSignal),
      tally(std::make_shared<RecordingTally>()),
      uploads(std::make_shared<SegmentUploads>(uploader, tally)),
      gate(std::make_shared<StartGate>(board)),
      boardDisconnected(std::make_shared<std::atomic<bool>>(false)) {}

Recording::~Recording() {
    gate->close();
}

void Recording::deviceDisconnected(Status status) {
    if (disconnectReported) {
        return;
    }
    disconnectReported = true;
    gate->close();
    board->stopReadThread();
    board->close();
    reporter.send(status, kDisconnectedText);
    logger().notice(reporter.line("Device disconnected"));
}

void Recording::notifyStart(bool restartOnAcknowledgement) {
    logger().info(reporter.line("Notifying API of DC start"));
    if (restartOnAcknowledgement) {
        gate->open();
    }
    cloud::CollectionService::shared().post<cloud::DataCollectionStatusResponse>(
        cloud::CollectionEndpoint::startDataCollection(collectionID).request(),
        [gate = gate, failed = reporter.line("Failed to notify API of DC start due to error "),
         notified = reporter.line("API notified of DC start")](
            cloud::APIResult<cloud::DataCollectionStatusResponse> result) {
            if (!result) {
                logger().error(failed + cloud::describe(result.error()));
                return;
            }
            gate->acknowledged();
            logger().info(notified);
        });
}

void Recording::saveSegment() {
    tally->segmentStarted();
    if (!board->saveBinaryFile(*uploads)) {
        tally->segmentEnded();
    }
}

void Recording::startSaver() {
    tally->segmentStarted();
    common::dispatchAsync(common::QualityOfService::defaultPriority,
                          [board = board, uploads = uploads, tally = tally] {
                              if (!board->saveBinaryFile(*uploads)) {
                                  tally->segmentEnded();
                              }
                          });
}

void Recording::waitForUploads() const {
    tally->waitUntilSettled(std::chrono::steady_clock::now() + common::scaled(kUploadWaitLimit));
}

std::int64_t Recording::packetsInFile() const {
    device::SampleReader* reader = board->sampleReader();
    return reader->withFileLock([reader] { return reader->packetCount(); });
}

DeviceStatus Recording::finish(std::int64_t saves) {
    const std::int64_t n = numInstances;
    if (n > 0) {
        // The board's last packets of the recording: each saved segment holds ten seconds of them.
        board->sampleReader()->waitForPacketCount(
            n - kSegmentSeconds * saves, std::chrono::steady_clock::now() + common::scaled(kPacketWaitLimit));
    }
    const std::int64_t expected = expectedSegments(std::max<std::int64_t>(n, 0));
    if (saves < expected) {
        saveSegment();
        ++saves;
    }
    const double nominal = static_cast<double>(n);
    if (saves != expected &&
        static_cast<double>(board->totalPacketsReceived()) - kExpectedPacketsPerSecond * nominal >
            std::floor(nominal * kPacketTolerance * kExpectedPacketsPerSecond)) {
        logger().warning("Not all data uploaded");
    }
    reporter.send(Status::startWaiting);
    logger().info(reporter.line("Waiting for saver to finish"));
    reporter.notifyStatus(cloud::DataCollectionStatusStringResponse::UPLOAD, "upload status");
    pause(kSettleBeforeUploadWait);
    waitForUploads();
    reporter.notifyStatus(cloud::DataCollectionStatusStringResponse::DONE, "done status");
    reporter.send(Status::finishWaiting);
    logger().info(reporter.line("Finished waiting"));
    if (uploader->stopDataCollection() && uploader->exceptionOccured()) {
        logger().error(reporter.line("Error occured during upload"));
    }
    return DeviceStatus::DEVICE_OK;
}

DeviceStatus Recording::run() {
    const std::int64_t n = numInstances;
    reporter.send(Status::startReset);
    logger().info(reporter.line("Resetting device"));
    board->reset();
    gate->startClock(board->readTime());
    board->setDisconnectEvent([disconnected = boardDisconnected] { disconnected->store(true); });
    device::SampleReader* reader = board->sampleReader();
    if (reader == nullptr) {
        logger().info("Sample reader does not exist");
        return DeviceStatus::DEVICE_DISCONNECTED;
    }
    if (!reader->running() && reader->disconnected()) {
        deviceDisconnected(Status::disconnect);
        boardDisconnected->store(true);
    }
    reporter.send(Status::finishReset);
    logger().info(reporter.line("Device reset"));
    notifyStart(!boardDisconnected->load());

    DeviceStatus state = DeviceStatus::DEVICE_OK;
    bool leftEarly = false;
    std::int64_t saves = 0;
    if (n >= 0) {
        const std::int64_t checkInterval = std::min(n, kMaxCheckInterval);
        double secondsLeft = static_cast<double>(n);
        std::optional<std::int64_t> lastSaveSecond;
        std::int64_t previousWholeSeconds = 0;
        bool firstPass = true;
        while (firstPass || secondsLeft >= 0) {
            firstPass = false;
            if (!reader->running() && reader->disconnected()) {
                boardDisconnected->store(true);
            }
            if (reportsSilence(board->deviceKind()) &&
                std::chrono::steady_clock::now() - reader->lastRead() > reader->silenceLimit()) {
                boardDisconnected->store(true);
                reporter.send(Status::error, kNotRespondingText);
                logger().notice(reporter.line("Device not responding"));
            }
            if (boardDisconnected->load() || stop.connectionClosed.load() ||
                reporter.connection()->state() == frame::WebSocketState::disconnected) {
                leftEarly = true;
                break;
            }
            const auto now = Clock::now();
            const double elapsed = recordingSeconds(now - gate->clockStart().value_or(now));
            const std::int64_t packets = packetsInFile();
            const auto wholeSeconds = static_cast<std::int64_t>(elapsed);
            // A segment is due in the second of each 10-second mark; a pass held up past that whole
            // second (a busy machine) still takes the mark it missed, as the first pass after it.
            const std::int64_t mark = wholeSeconds - wholeSeconds % kSegmentSeconds;
            const bool atMark = wholeSeconds == mark || previousWholeSeconds < mark;
            previousWholeSeconds = wholeSeconds;
            if (mark != 0 && atMark && lastSaveSecond != mark && elapsed > 0 &&
                n >= kMinInstancesForSegments && packets >= kMinPacketsPerSegment) {
                logger().info(
                    reporter.line("Recording seconds left: " + device::defaultDoubleText(secondsLeft) +
                                  " stream count: " + std::to_string(packets)));
                startSaver();
                ++saves;
                lastSaveSecond = mark;
            }
            if (checkInterval > 0 && elapsed > 0 && wholeSeconds % checkInterval != 0) {
                state = board->getDeviceState(*uploads);
            }
            if (state == DeviceStatus::DEVICE_NOT_TRANSMITTING_DATA) {
                gate->close();
                reader->stop();
                board->close();
                reporter.send(Status::initDisconnect, kDisconnectedText);
                logger().notice(reporter.line("Device not sending data, disconnected"));
                return state;
            }
            const auto started = gate->clockStart();
            secondsLeft =
                started ? static_cast<double>(n) - recordingSeconds(Clock::now() - *started) : -1e-9;
            pause(kLoopPause);
        }
    }
    gate->close();
    if (leftEarly) {
        deviceDisconnected(Status::disconnect);
        state = DeviceStatus::DEVICE_DISCONNECTED;
    }
    if (state == DeviceStatus::DEVICE_OK) {
        return finish(saves);
    }
    // What was recorded before the disconnect goes to the cloud; an empty file is only deleted.
    if (packetsInFile() > 0) {
        saveSegment();
    }
    waitForUploads();
    return state;
}

}  // namespace brisel::workflows
