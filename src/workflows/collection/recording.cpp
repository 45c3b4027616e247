#include "workflows/collection/recording.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "cloud/authorization.h"
#include "cloud/services.h"
#include "common/dispatch.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "device/boards/brisel_device.h"
#include "workflows/collection/running_recordings.h"

namespace brisel::workflows {
namespace {

using common::logger;
using device::DeviceStatus;
using Status = frame::BriselDataCollectionResponseStatus;
using namespace std::chrono_literals;

constexpr std::string_view kDisconnectedText =
    "Device got disconnected. Please connect the device again and restart the process.";
constexpr std::string_view kNotRespondingText = "Device not responding. Please reset the device.";
constexpr std::string_view kFinishedText = "Finished data collection";
// The error code of the ERROR status of a recording that lost packets or left segments behind.
constexpr std::int64_t kRecordingErrorCode = -1;

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
constexpr auto kSaverWaitLimit = 60s;
constexpr auto kSettleBeforeUploadWait = 2s;

using SteadyClock = std::chrono::steady_clock;

// Seconds of recording in `real` time: real seconds divided by the time scale.
double recordingSeconds(SteadyClock::duration real) {
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

std::mutex saverStartMutex;
SaverStart saverStartInForce;  // guarded by saverStartMutex; empty: the global queue

SaverStart currentSaverStart() {
    std::lock_guard lock(saverStartMutex);
    if (saverStartInForce) {
        return saverStartInForce;
    }
    return [](std::function<void()> save) {
        common::dispatchAsync(common::QualityOfService::defaultPriority, std::move(save));
    };
}

}  // namespace

void setSaverStart(SaverStart start) {
    std::lock_guard lock(saverStartMutex);
    saverStartInForce = std::move(start);
}

// Lets the savers of a recording save until the recording takes its last segment itself. Any thread.
class Recording::SaverGate {
  public:
    // Runs `save` unless the gate is closed; close() waits for a save that runs, so that after it no
    // saver does anything.
    void run(const std::function<void()>& save) {
        std::lock_guard lock(mutex);
        if (isOpen) {
            save();
        }
    }

    // Savers that have not saved yet save nothing from now on.
    void close() {
        std::lock_guard lock(mutex);
        isOpen = false;
    }

  private:
    std::mutex mutex;
    bool isOpen = true;  // guarded by mutex
};

// The recording's clock and the cloud's answer to its start, shared with the completion of the start
// call. The clock counts from the board's reset until the cloud acknowledges the start; while the gate
// is open the acknowledgement begins the recording again, with an empty file, no packet counted and
// the clock at zero. Before either answer the recording has not begun: its clock shows nothing. Any
// thread.
class Recording::StartGate {
  public:
    explicit StartGate(std::shared_ptr<device::BriselDeviceBase> recorded) : board(std::move(recorded)) {}

    // The board was reset now; the cloud's answer is awaited.
    void boardReset() {
        std::lock_guard lock(mutex);
        startTime = SteadyClock::now();
        answered = false;
    }

    // When the recording's clock began; none while the cloud has not answered the start.
    std::optional<SteadyClock::time_point> clockStart() const {
        std::lock_guard lock(mutex);
        return answered ? std::optional(startTime) : std::nullopt;
    }

    // Acknowledgements begin the recording again from now on.
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
        answered = true;
        if (!isOpen || !board) {
            return;
        }
        if (device::SampleReader* reader = board->sampleReader(); reader != nullptr) {
            reader->beginRecording();
        }
        startTime = SteadyClock::now();
    }

    // The announcement failed: the clock counts from the reset.
    void refused() {
        std::lock_guard lock(mutex);
        answered = true;
    }

  private:
    mutable std::mutex mutex;
    std::shared_ptr<device::BriselDeviceBase> board;  // guarded by mutex
    SteadyClock::time_point startTime;                // guarded by mutex
    bool answered = false;                            // guarded by mutex
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
      savers(std::make_shared<SaverGate>()),
      saverStart(currentSaverStart()),
      boardDisconnected(std::make_shared<std::atomic<bool>>(false)) {
    RunningRecordings::shared().add(*this);
}

Recording::~Recording() {
    RunningRecordings::shared().remove(*this);
    gate->close();
}

void Recording::keepForExit() {
    uploads->closeForExit();
    device::SampleReader* reader = board->sampleReader();
    if (reader == nullptr) {
        return;
    }
    if (const auto kept = reader->keepForSync()) {
        logger().notice(reporter.line("The service is stopping: the last " +
                                      std::to_string(kept->packetCount) + " packets of collection " +
                                      std::to_string(collectionID) + " are kept in " + kept->path.string() +
                                      " for a collection sync"));
    }
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
                gate->refused();
                return;
            }
            gate->acknowledged();
            logger().info(notified);
        });
}

void Recording::saveSegment() {
    tally->saveStarted();
    board->saveBinaryFile(*uploads);
    tally->saveEnded();
}

void Recording::startSaver() {
    tally->saveStarted();
    saverStart([board = board, uploads = uploads, tally = tally, savers = savers] {
        savers->run([&] {
            // A saver that started late may find that the one before it took its packets along.
            device::SampleReader* reader = board->sampleReader();
            if (reader->withFileLock([reader] { return reader->packetsSinceSave(); }) > 0) {
                board->saveBinaryFile(*uploads);
            }
            tally->saveEnded();
        });
    });
}

std::function<void()> Recording::doneAfterLateUploads(const RecordingTally::Counts& atEnd,
                                                      const cloud::CloudAccess& access) const {
    if (atEnd.inFlight + atEnd.saving == 0) {
        return {};
    }
    // Once the cloud has answered the ERROR: a DONE never overtakes it.
    return [tally = tally, reporter = reporter, access] {
        tally->whenSettled([reporter, access](const RecordingTally::Counts& counts) {
            if (!recordingProblems(counts)) {
                logger().info(reporter.line("The uploads that outlived the wait have all succeeded"));
                reporter.notifyStatus(cloud::DataCollectionStatusStringResponse::DONE, "done status", 200, "",
                                      {access, {}});
            }
        });
    };
}

bool Recording::endSavers() {
    if (tally->counts().saving > 0) {
        logger().info(reporter.line("Waiting for the last segment to be saved"));
    }
    const bool saved =
        tally->waitUntilSaved(std::chrono::steady_clock::now() + common::scaled(kSaverWaitLimit));
    savers->close();
    if (!saved) {
        // They will find the gate closed: the recording saves what they would have.
        tally->savesAbandoned();
        logger().warning(
            reporter.line("A segment's saver did not start within a minute; the recording "
                          "saves what it holds itself"));
    }
    return saved;
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
    // The recording is over: what the board sends from now on is no part of it.
    board->stopReadThread();
    const bool saved = endSavers();
    const std::int64_t expected = expectedSegments(std::max<std::int64_t>(n, 0));
    // A mark that came too soon after a gap saved nothing, so the savers took the last packets along:
    // an empty last file is then no segment. A recording whose board sent nothing saves it all the
    // same, so that the cloud and the browser hear of the empty data.
    device::SampleReader* reader = board->sampleReader();
    const bool packetsLeft = reader->withFileLock([reader] { return reader->packetsSinceSave(); }) > 0;
    const bool lastSegmentDue = saves < expected && (packetsLeft || board->totalPacketsReceived() == 0);
    if (lastSegmentDue || (!saved && packetsLeft)) {
        saveSegment();
        if (saves < expected) {
            ++saves;  // a saver that never saved was counted when it started
        }
    }
    // Its file goes now, so that a service that ends during the wait for the uploads leaves nothing of
    // the recording for a sync but its segments.
    board->sampleReader()->stop();
    tally->setPacketsLost(board->sampleReader()->numPacketsLost());
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
    // Lost packets or segments that did not reach the cloud make the collection's end an error.
    const cloud::CloudAccess access = cloud::Authorization::shared().snapshot();
    const RecordingTally::Counts counts = tally->counts();
    const auto problems = recordingProblems(counts);
    if (problems) {
        logger().error(reporter.line(*problems));
        reporter.notifyStatus(cloud::DataCollectionStatusStringResponse::ERROR, "error status",
                              kRecordingErrorCode, *problems, {access, doneAfterLateUploads(counts, access)});
    } else {
        reporter.notifyStatus(cloud::DataCollectionStatusStringResponse::DONE, "done status", 200, "",
                              {access, {}});
    }
    reporter.send(Status::finishWaiting);
    logger().info(reporter.line("Finished waiting"));
    if (uploader->stopDataCollection() && uploader->exceptionOccured()) {
        logger().error(reporter.line("Error occured during upload"));
    }
    if (problems) {
        reporter.send(Status::error, *problems);
    } else {
        reporter.send(Status::done, kFinishedText);
    }
    return DeviceStatus::DEVICE_OK;
}

DeviceStatus Recording::run() {
    const std::int64_t n = numInstances;
    reporter.send(Status::startReset);
    logger().info(reporter.line("Resetting device"));
    board->reset();
    gate->boardReset();
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
            // Nothing counts before the cloud answered the start: what is recorded until its
            // acknowledgement is not part of the recording.
            const auto clockStart = gate->clockStart();
            const double elapsed = clockStart ? recordingSeconds(SteadyClock::now() - *clockStart) : 0.0;
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
                savers->close();
                reader->stop();
                board->close();
                reporter.send(Status::initDisconnect, kDisconnectedText);
                logger().notice(reporter.line("Device not sending data, disconnected"));
                return state;
            }
            const auto started = gate->clockStart();
            secondsLeft =
                static_cast<double>(n) - (started ? recordingSeconds(SteadyClock::now() - *started) : 0.0);
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
    endSavers();
    if (reader->withFileLock([reader] { return reader->packetsSinceSave(); }) > 0) {
        saveSegment();
    }
    waitForUploads();
    return state;
}

}  // namespace brisel::workflows
