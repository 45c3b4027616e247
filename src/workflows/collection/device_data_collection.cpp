#include "workflows/collection/device_data_collection.h"

#include <optional>
#include <string>
#include <utility>

#include "cloud/endpoints.h"
#include "cloud/services.h"
#include "common/enum_raw_values.h"
#include "common/logger.h"
#include "common/time_scale.h"
#include "device/boards/brisel_bluetooth_device.h"
#include "device/boards/brisel_device.h"
#include "device/boards/brisel_wifi_device.h"
#include "workflows/await_result.h"
#include "workflows/collection/collection_folder_claims.h"
#include "workflows/collection/collection_reporter.h"

namespace brisel::workflows {
namespace {

using common::logger;
using device::BriselDeviceBase;
using device::DeviceStatus;
using Status = frame::BriselDataCollectionResponseStatus;

constexpr std::string_view kDisconnectedText =
    "Device got disconnected. Please connect the device again and restart the process.";

constexpr int kMaxConnectionRetries = 10;

// The board waits of the service, scaled.
device::BoardSettings scaledBoardSettings() {
    device::BoardSettings settings;
    settings.resetSettle = common::scaled(settings.resetSettle);
    settings.retryPause = common::scaled(settings.retryPause);
    settings.flamencoSettleWait = common::scaled(settings.flamencoSettleWait);
    return settings;
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
    const auto uploader = cloud::StreamingUploader::create(collection.id, project->id, project->deviceKind,
                                                           CollectionFolderClaims::uploaderSettings());
    claim.keepWhileUploading(uploader);
    logger().info(reporter.line("Beginning continuous collection"));
    runContinuous(socket, board, request, *project, collection, uploader, *stop);
    if (device::SampleReader* reader = board->sampleReader(); reader != nullptr) {
        reader->stop();
    }
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
    Recording recording(std::move(reporter), device, uploader, collection.id, request.numInstances, stop);
    return recording.run();
}

}  // namespace brisel::workflows
