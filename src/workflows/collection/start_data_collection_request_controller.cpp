#include "workflows/collection/start_data_collection_request_controller.h"

#include <utility>

#include "common/logger.h"
#include "workflows/cloud_access.h"
#include "workflows/collection/device_data_collection.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {

StartDataCollectionRequestController::StartDataCollectionRequestController(
    std::shared_ptr<frame::WebSocket> connection, frame::StartDataCollectionRequest data)
    : ws(std::move(connection)), startDataCollectionRequest(std::move(data)) {}

void StartDataCollectionRequestController::respond() {
    common::logger().info("Start data collection request received");
    useCloudOfRequest(startDataCollectionRequest);
    runWorkflow("com.velko.brisel_core.DataCollection", [ws = ws, request = startDataCollectionRequest] {
        DeviceDataCollection::initialize(ws, request, request.dataCollectionType);
    });
}

}  // namespace brisel::workflows
