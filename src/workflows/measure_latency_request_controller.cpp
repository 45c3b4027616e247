#include "workflows/measure_latency_request_controller.h"

#include <utility>

#include "cloud/endpoints.h"
#include "cloud/services.h"
#include "common/logger.h"
#include "frame/replies.h"

namespace brisel::workflows {
namespace {

using frame::BriselLatencyResponseStatus;

// PATCHes the run `runId` with the latency report that ends in `status`.
void patchRunStatus(std::int64_t runId, std::string status, cloud::APIClient::DataCompletion completion) {
    const cloud::Endpoint endpoint = cloud::RunEndpoint::updateRun(
        {.runId = runId, .latencyStatus = 1, .latencyError = false, .status = std::move(status)});
    cloud::RunService::shared().patchData(endpoint.request(), std::move(completion));
}

void sendFinalUpdate(std::int64_t runId, const std::shared_ptr<frame::WebSocket>& ws) {
    common::logger().info("Sending final update to API...");
    patchRunStatus(runId, "DONE", [runId, ws](cloud::APIResult<std::string> result) {
        if (!result) {
            const std::string error = cloud::describe(result.error());
            common::logger().error("Failed to notify API of final status due to error: " + error);
            sendLatencyReply(*ws, BriselLatencyResponseStatus::error,
                             "Failed to notify API of final status due to error " + error);
            return;
        }
        common::logger().info("Final update sent to API");
        sendLatencyReply(*ws, BriselLatencyResponseStatus::done, "Latency measured:" + std::to_string(runId));
    });
}

void reportLatencyFailure(frame::WebSocket& ws, const cloud::APIError& failure) {
    const std::string error = cloud::describe(failure);
    common::logger().error("Failed to notify API of latency due to error: " + error);
    sendLatencyReply(ws, BriselLatencyResponseStatus::error,
                     "Failed to notify API of latency due to error " + error);
}

}  // namespace

void sendLatencyReply(frame::WebSocket& ws, frame::BriselLatencyResponseStatus status, std::string message) {
    ws.write(frame::BriselResponse<frame::BriselLatencyResponse>{
        .data = {.status = status, .data = {.message = std::move(message)}}});
}

void MeasureLatencyRequestController::updateLatency(std::int64_t runId, std::int64_t modelId,
                                                    std::int64_t averageLatency,
                                                    const std::shared_ptr<frame::WebSocket>& ws) {
    const cloud::Endpoint endpoint = cloud::ModelEndpoint::updateModel(modelId, averageLatency);
    cloud::ModelService::shared().patchData(
        endpoint.request(), [runId, ws](cloud::APIResult<std::string> result) {
            if (!result) {
                reportLatencyFailure(*ws, result.error());
                sendFinalUpdate(runId, ws);
                return;
            }
            common::logger().info("API notified of latency");
            sendLatencyReply(*ws, BriselLatencyResponseStatus::success, "Latency measured");
            common::logger().info("Updating run...");
            patchRunStatus(runId, "SUCCESS", [runId, ws](cloud::APIResult<std::string> runResult) {
                if (!runResult) {
                    reportLatencyFailure(*ws, runResult.error());
                } else {
                    common::logger().info("Run updated");
                }
                sendFinalUpdate(runId, ws);
            });
        });
}

}  // namespace brisel::workflows
