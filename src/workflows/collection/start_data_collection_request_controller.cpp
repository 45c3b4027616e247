#include "workflows/collection/start_data_collection_request_controller.h"

#include <utility>

#include "common/logger.h"
#include "workflows/cloud_access.h"
#include "workflows/collection/collection_reporter.h"
#include "workflows/collection/device_data_collection.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {

StartDataCollectionRequestController::StartDataCollectionRequestController(
    std::shared_ptr<frame::WebSocket> connection, frame::StartDataCollectionRequest data)
    : ws(std::move(connection)), startDataCollectionRequest(std::move(data)) {}

void StartDataCollectionRequestController::respond() {
    common::logger().info("Start data collection request received");
    const auto& request = startDataCollectionRequest;
    const CollectionReporter reporter(ws, request.projectID, request.dataCollectionType);
    auto place = reserveWorkflow("com.velko.brisel_core.DataCollection");
    if (!place) {
        reporter.send(frame::BriselDataCollectionResponseStatus::error, busyMessage());
        return;
    }
    useCloudOfRequest(request);
    const WorkflowStart started = runWorkflow(std::move(*place), [ws = ws, request] {
        DeviceDataCollection::initialize(ws, request, request.dataCollectionType);
    });
    if (started == WorkflowStart::busy) {
        reporter.send(frame::BriselDataCollectionResponseStatus::error, busyMessage());
    }
}

}  // namespace brisel::workflows
