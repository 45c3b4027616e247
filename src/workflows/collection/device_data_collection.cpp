#include "workflows/collection/device_data_collection.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "cloud/endpoints.h"
#include "cloud/services.h"
#include "common/dispatch.h"
#include "common/enum_raw_values.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "device/boards/brisel_bluetooth_device.h"
#include "device/boards/brisel_device.h"
#include "device/boards/brisel_wifi_device.h"
#include "frame/feature_replies.h"
#include "frame/replies.h"
#include "workflows/await_result.h"
#include "workflows/collection/collection_folder_claims.h"

namespace brisel::workflows {
namespace {

using common::logger;
using device::BriselDeviceBase;
using device::DeviceStatus;
using frame::BriselDataCollectionResponseStatus;
using Status = BriselDataCollectionResponseStatus;
using namespace std::chrono_literals;

constexpr std::string_view kDisconnectedText =
    "Device got disconnected. Please connect the device again and restart the process.";
constexpr std::string_view kFinishedText = "Finished data collection";
constexpr std::string_view kNotRespondingText = "Device not responding. Please reset the device.";

constexpr int kMaxConnectionRetries = 10;
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
constexpr auto kUploadPoll = 500ms;
constexpr auto kUploadWaitLimit = 60s;
constexpr auto kPacketWaitLimit = 60s;
constexpr auto kSettleBeforeUploadWait = 2s;

using Clock = BriselDeviceBase::Clock;

// Seconds of recording in `real` time: real seconds divided by the time scale.
double recordingSeconds(Clock::duration real) {
    return std::chrono::duration<double>(real).count() / common::timeScale();
}

void pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(common::scaled(duration));
}

// The board waits of the service, scaled.
device::BoardSettings scaledBoardSettings() {
    device::BoardSettings settings;
    settings.resetSettle = common::scaled(settings.resetSettle);
    settings.retryPause = common::scaled(settings.retryPause);
    settings.flamencoSettleWait = common::scaled(settings.flamencoSettleWait);
    return settings;
}

// The board of a DC start acknowledgement: cleared when the recording loop ends, so that a late
// acknowledgement never restarts the file of a recording that is being saved or a board that is gone.
struct StartAcknowledgementGate {
    std::mutex mutex;
    BriselDeviceBase* board = nullptr;  // guarded by mutex

    void close() {
        std::lock_guard lock(mutex);
        board = nullptr;
    }
};

// One collection's replies and log lines.
class CollectionReporter {
  public:
    CollectionReporter(std::shared_ptr<frame::WebSocket> connection, std::int64_t project,
                       common::DataCollectionType link)
        : socket(std::move(connection)),
          projectID(project),
          prefix(std::string(common::rawValue(link)) + ": ") {}

    void send(Status status, std::optional<std::string_view> message = std::nullopt) const {
        frame::BriselDataCollectionResponse payload;
        payload.status = status;
        payload.data.projectID = projectID;
        payload.data.collectionID = collectionID;
        if (message) {
            payload.data.message = std::string(*message);
        }
        socket->write(frame::featureReply(std::move(payload)));
    }

    // Every later reply carries `id`.
    void setCollectionID(std::int64_t id) { collectionID = id; }

    std::string line(std::string_view text) const { return prefix + std::string(text); }

    const std::shared_ptr<frame::WebSocket>& connection() const { return socket; }

  private:
    std::shared_ptr<frame::WebSocket> socket;
    std::int64_t projectID;
    std::string prefix;
    std::optional<std::int64_t> collectionID;
};

// Reports the collection's data-collection status to the cloud without waiting; the reply is only
// logged, with `what` naming the report ("upload status", "done status").
void notifyStatus(const CollectionReporter& reporter, std::int64_t collectionID,
                  cloud::DataCollectionStatusStringResponse status, const std::string& what) {
    logger().info(reporter.line("Notifying API of " + what));
    const cloud::CollectionEndpoint::StatusUpdate update{collectionID, 200, status, ""};
    cloud::CollectionService::shared().patch<cloud::DataCollectionStatusResponse>(
        cloud::CollectionEndpoint::updateDataCollectionStatus(update).request(),
        [failed = reporter.line("Failed to notify API of " + what + " due to error "),
         notified = reporter.line("API notified of " + what)](
            cloud::APIResult<cloud::DataCollectionStatusResponse> result) {
            if (result) {
                logger().info(notified);
            } else {
                logger().error(failed + cloud::describe(result.error()));
            }
        });
}

// The state of one recording, shared by its loop and the savers it starts.
class Recording {
  public:
    Recording(CollectionReporter replies, std::shared_ptr<BriselDeviceBase> device,
              std::shared_ptr<cloud::StreamingUploader> segmentUploader)
        : reporter(std::move(replies)),
          board(std::move(device)),
          uploader(std::move(segmentUploader)),
          gate(std::make_shared<StartAcknowledgementGate>()),
          pendingSaves(std::make_shared<std::atomic<int>>(0)) {}

    const CollectionReporter reporter;
    const std::shared_ptr<BriselDeviceBase> board;
    const std::shared_ptr<cloud::StreamingUploader> uploader;
    const std::shared_ptr<StartAcknowledgementGate> gate;
    // Saves started on the global queue that have not yet handed their segment over.
    const std::shared_ptr<std::atomic<int>> pendingSaves;

    // Ends the board's reading, keeping the recorded file for a last save, closes the board and
    // reports `status`. Only the first call does anything.
    void deviceDisconnected(Status status) {
        if (disconnectReported) {
            return;
        }
        disconnectReported = true;
        gate->close();
        board->stopReadThread();
        board->setDcStopTime(Clock::now());
        board->close();
        reporter.send(status, kDisconnectedText);
        logger().notice(reporter.line("Device disconnected"));
    }

    // Saves the current file as a segment on the global queue; the loop goes on at once.
    void startSaver() {
        pendingSaves->fetch_add(1);
        common::dispatchAsync(common::QualityOfService::defaultPriority,
                              [board = board, uploader = uploader, pending = pendingSaves] {
                                  board->saveBinaryFile(*uploader);
                                  pending->fetch_sub(1);
                              });
    }

    // Waits, checking every 0.5 s, while a save or an upload of the collection is in flight, for at
    // most 60 s.
    void waitForUploads() const {
        const auto started = std::chrono::steady_clock::now();
        const auto limit = common::scaled(kUploadWaitLimit);
        while ((pendingSaves->load() > 0 || board->saverRunning() || uploader->streamerRunning()) &&
               std::chrono::steady_clock::now() - started < limit) {
            pause(kUploadPoll);
        }
    }

    std::int64_t packetsInFile() const {
        device::SampleReader* reader = board->sampleReader();
        return reader->withFileLock([reader] { return reader->packetCount(); });
    }

  private:
    bool disconnectReported = false;
};

bool reportsSilence(common::DeviceKind kind) {
    return kind == common::DeviceKind::HALDEN_FLAMENCO || kind == common::DeviceKind::HALDEN_I3MICRO;
}

// Announces the start of the recording to the cloud; on its acknowledgement the recording begins
// again, with an empty file, unless the loop has ended meanwhile (or `restartOnAcknowledgement` is
// false, after a disconnect).
void notifyStart(const Recording& recording, std::int64_t collectionID, bool restartOnAcknowledgement) {
    const auto& reporter = recording.reporter;
    logger().info(reporter.line("Notifying API of DC start"));
    if (restartOnAcknowledgement) {
        std::lock_guard lock(recording.gate->mutex);
        recording.gate->board = recording.board.get();
    }
    cloud::CollectionService::shared().post<cloud::DataCollectionStatusResponse>(
        cloud::CollectionEndpoint::startDataCollection(collectionID).request(),
        [gate = recording.gate, failed = reporter.line("Failed to notify API of DC start due to error "),
         notified = reporter.line("API notified of DC start")](
            cloud::APIResult<cloud::DataCollectionStatusResponse> result) {
            if (!result) {
                logger().error(failed + cloud::describe(result.error()));
                return;
            }
            {
                std::lock_guard lock(gate->mutex);
                if (gate->board != nullptr) {
                    if (device::SampleReader* reader = gate->board->sampleReader(); reader != nullptr) {
                        reader->withFileLock([reader] { reader->setBinaryFileURL(device::OldFile::remove); });
                    }
                    gate->board->setDcStartTime(Clock::now());
                }
            }
            logger().info(notified);
        });
}

// n / 10 rounded up, for any n >= 0 without overflow.
std::int64_t expectedSegments(std::int64_t n) {
    return n / kSegmentSeconds + (n % kSegmentSeconds != 0 ? 1 : 0);
}

// The end of a whole recording: the last segment, the status reports and the upload wait.
DeviceStatus finishRecording(Recording& recording, std::int64_t n, std::int64_t saves,
                             std::int64_t collectionID) {
    const auto& reporter = recording.reporter;
    if (n > 0) {
        // The board's last packets of the recording: each saved segment holds ten seconds of them.
        recording.board->sampleReader()->waitForPacketCount(
            n - kSegmentSeconds * saves, std::chrono::steady_clock::now() + common::scaled(kPacketWaitLimit));
    }
    const std::int64_t expected = expectedSegments(std::max<std::int64_t>(n, 0));
    if (saves < expected) {
        recording.board->saveBinaryFile(*recording.uploader);
        ++saves;
    }
    const double nominal = static_cast<double>(n);
    if (saves != expected &&
        static_cast<double>(recording.board->totalPacketsReceived()) - kExpectedPacketsPerSecond * nominal >
            std::floor(nominal * kPacketTolerance * kExpectedPacketsPerSecond)) {
        logger().warning("Not all data uploaded");
    }
    reporter.send(Status::startWaiting);
    logger().info(reporter.line("Waiting for saver to finish"));
    notifyStatus(reporter, collectionID, cloud::DataCollectionStatusStringResponse::UPLOAD, "upload status");
    pause(kSettleBeforeUploadWait);
    recording.waitForUploads();
    notifyStatus(reporter, collectionID, cloud::DataCollectionStatusStringResponse::DONE, "done status");
    reporter.send(Status::finishWaiting);
    logger().info(reporter.line("Finished waiting"));
    if (recording.uploader->stopDataCollection() && recording.uploader->exceptionOccured()) {
        logger().error(reporter.line("Error occured during upload"));
    }
    return DeviceStatus::DEVICE_OK;
}

std::shared_ptr<BriselDeviceBase> openBoard(common::DataCollectionType link, common::DeviceKind kind,
                                            const device::SensorOdrs& odrs, std::int64_t collectionID) {
    switch (link) {
        case common::DataCollectionType::USB:
            return device::BriselDevice::initDataCollection(kind, odrs, kMaxConnectionRetries, collectionID,
                                                            scaledBoardSettings());
        case common::DataCollectionType::WIFI:
            return device::BriselWifiDevice::initDataCollection(kind, odrs, kMaxConnectionRetries,
                                                                collectionID, scaledBoardSettings());
        case common::DataCollectionType::BLUETOOTH:
            return std::make_shared<device::BriselBluetoothDevice>(std::nullopt, std::nullopt, kind, odrs,
                                                                   collectionID, scaledBoardSettings());
    }
    return nullptr;
}

}  // namespace

device::SensorOdrs DeviceDataCollection::getDeviceOdrMap(
    const std::vector<frame::SensorConfig>& sensorConfig) {
    device::SensorOdrs odrs;
    for (const auto& sensor : sensorConfig) {
        odrs[sensor.kind] = sensor.samplingRate;
    }
    return odrs;
}

void DeviceDataCollection::initialize(const std::shared_ptr<frame::WebSocket>& socket,
                                      const frame::StartDataCollectionRequest& request,
                                      common::DataCollectionType dataCollectionType) {
    // The connection's other close callbacks (a live classification's) stay; this one is removed when
    // the collection ends.
    auto stop = std::make_shared<RecordingStop>();
    const auto closeCallback = socket->addCloseCallback([stop] { stop->connectionClosed.store(true); });
    struct CloseCallbackRemoval {
        const std::shared_ptr<frame::WebSocket>& socket;
        frame::CloseCallbackId id;
        ~CloseCallbackRemoval() { socket->removeCloseCallback(id); }
    } removal{socket, closeCallback};

    CollectionReporter reporter(socket, request.projectID, dataCollectionType);
    reporter.send(Status::initialize);
    std::vector<cloud::CollectionNewSensorArgsResponse> sensors;
    sensors.reserve(request.sensorConfig.size());
    for (const auto& sensor : request.sensorConfig) {
        sensors.push_back({sensor.enabled, sensor.kind, sensor.samplingRate, sensor.fullScaleRange});
    }
    reporter.send(Status::authenticate);

    const cloud::CollectionEndpoint::NewCollection newCollection{
        request.kind,
        request.datasetName,
        request.projectID,
        request.label,
        std::move(sensors),
        request.numInstances,
        dataCollectionType == common::DataCollectionType::BLUETOOTH};
    const auto created = awaitResult<cloud::CollectionResponse>([&](auto done) {
        cloud::CollectionService::shared().post<cloud::CollectionResponse>(
            cloud::CollectionEndpoint::createCollection(newCollection).request(), std::move(done));
    });
    if (!created) {
        logger().error(reporter.line("Failed to create collection with " + cloud::describe(created.error())));
        reporter.send(Status::error, created.error().message);
        return;
    }
    const cloud::CollectionResponse& collection = *created;
    reporter.setCollectionID(collection.id);
    logger().info(reporter.line("Collection created, Getting project details"));
    const auto project = awaitResult<cloud::ProjectResponse>([&](auto done) {
        cloud::ProjectService::shared().get<cloud::ProjectResponse>(
            cloud::ProjectEndpoint::getProject(request.projectID).request(), std::move(done));
    });
    if (!project) {
        logger().error(
            reporter.line("Failed to get project details with " + cloud::describe(project.error())));
        reporter.send(Status::error, project.error().message);
        return;
    }
    logger().info(
        reporter.line("Got project: " + std::to_string(project->id) + ", initializing data collection"));
    logger().info(
        reporter.line("Connecting to device " + std::string(common::rawValue(project->deviceKind))));
    reporter.send(Status::opening);

    // The folder is this recording's until its uploads have ended: a collection sync leaves it alone.
    auto claim = CollectionFolderClaims::shared().claim(collection.id);
    const auto board = openBoard(dataCollectionType, project->deviceKind,
                                 getDeviceOdrMap(request.sensorConfig), collection.id);
    if (!board) {
        reporter.send(Status::initDisconnect, kDisconnectedText);
        logger().error(reporter.line("Failed to get device"));
        reporter.send(Status::done, kDisconnectedText);
        return;
    }
    logger().info(reporter.line("Connected to device"));
    reporter.send(Status::active);
    const auto uploader = cloud::StreamingUploader::create(collection.id, project->id, project->deviceKind);
    claim.keepWhileUploading(uploader);
    logger().info(reporter.line("Beginning continuous collection"));
    const DeviceStatus status = runContinuous(socket, board, request, *project, collection, uploader, *stop);
    if (status == DeviceStatus::DEVICE_OK) {
        reporter.send(Status::done, kFinishedText);
    }
    if (device::SampleReader* reader = board->sampleReader(); reader != nullptr) {
        reader->stop();
    }
    board->setDcStopTime(Clock::now());
    board->close();
}

DeviceStatus DeviceDataCollection::runContinuous(const std::shared_ptr<frame::WebSocket>& socket,
                                                 const std::shared_ptr<BriselDeviceBase>& device,
                                                 const frame::StartDataCollectionRequest& request,
                                                 const cloud::ProjectResponse& /*project*/,
                                                 const cloud::CollectionResponse& collection,
                                                 const std::shared_ptr<cloud::StreamingUploader>& uploader,
                                                 const RecordingStop& stop) {
    CollectionReporter reporter(socket, request.projectID, request.dataCollectionType);
    reporter.setCollectionID(collection.id);
    Recording recording(reporter, device, uploader);
    const std::int64_t n = request.numInstances;

    device->setLabel(request.label);
    reporter.send(Status::startReset);
    logger().info(reporter.line("Resetting device"));
    device->reset();
    auto disconnected = std::make_shared<std::atomic<bool>>(false);
    device->setDisconnectEvent([disconnected] { disconnected->store(true); });
    device::SampleReader* reader = device->sampleReader();
    if (reader == nullptr) {
        logger().info("Sample reader does not exist");
        return DeviceStatus::DEVICE_DISCONNECTED;
    }
    if (!reader->running() && reader->disconnected()) {
        recording.deviceDisconnected(Status::disconnect);
        disconnected->store(true);
    }
    reporter.send(Status::finishReset);
    logger().info(reporter.line("Device reset"));
    notifyStart(recording, collection.id, !disconnected->load());

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
                disconnected->store(true);
            }
            if (reportsSilence(device->deviceKind()) &&
                std::chrono::steady_clock::now() - reader->lastRead() > reader->silenceLimit()) {
                disconnected->store(true);
                reporter.send(Status::error, kNotRespondingText);
                logger().notice(reporter.line("Device not responding"));
            }
            if (disconnected->load() || stop.connectionClosed.load() ||
                socket->state() == frame::WebSocketState::disconnected) {
                leftEarly = true;
                break;
            }
            const auto now = Clock::now();
            const auto startTime = device->dcStartTime();
            const double elapsed = recordingSeconds(now - startTime.value_or(now));
            const std::int64_t packets = recording.packetsInFile();
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
                recording.startSaver();
                ++saves;
                lastSaveSecond = mark;
            }
            if (checkInterval > 0 && elapsed > 0 && wholeSeconds % checkInterval != 0) {
                state = device->getDeviceState(*uploader);
            }
            if (state == DeviceStatus::DEVICE_NOT_TRANSMITTING_DATA) {
                recording.gate->close();
                reader->stop();
                device->setDcStopTime(Clock::now());
                device->close();
                reporter.send(Status::initDisconnect, kDisconnectedText);
                logger().notice(reporter.line("Device not sending data, disconnected"));
                return state;
            }
            const auto started = device->dcStartTime();
            secondsLeft =
                started ? static_cast<double>(n) - recordingSeconds(Clock::now() - *started) : -1e-9;
            pause(kLoopPause);
        }
    }
    recording.gate->close();
    if (leftEarly) {
        recording.deviceDisconnected(Status::disconnect);
        state = DeviceStatus::DEVICE_DISCONNECTED;
    }
    if (state == DeviceStatus::DEVICE_OK) {
        return finishRecording(recording, n, saves, collection.id);
    }
    // What was recorded before the disconnect goes to the cloud; an empty file is only deleted.
    if (recording.packetsInFile() > 0) {
        device->saveBinaryFile(*uploader);
    }
    recording.waitForUploads();
    return state;
}

}  // namespace brisel::workflows
