#include "workflows/checks/check_dependencies_request_controller.h"

#include <utility>

#include "common/device_kind.h"
#include "common/logger.h"
#include "frame/feature_replies.h"
#include "frame/replies.h"
#include "workflows/flash/flasher.h"

namespace brisel::workflows {

CheckDependenciesRequestController::CheckDependenciesRequestController(
    std::shared_ptr<frame::WebSocket> connection, frame::CheckDependenciesRequest request)
    : ws(std::move(connection)), dependenciesRequest(std::move(request)) {}

void CheckDependenciesRequestController::respond() {
    common::logger().info("Dependency request received");
    ws->write(frame::BriselResponse<frame::BriselStringResponse>{
        .data = {.command = frame::BriselStringCommand::checkDependencies,
                 .status = frame::BriselStringResponseStatus::done,
                 .data = checkDependencies()}});
}

std::map<std::string, std::string> CheckDependenciesRequestController::checkDependencies() {
    std::map<std::string, std::string> installed;
    for (const common::DeviceKind kind : common::allCases<common::DeviceKind>()) {
        const common::FlasherKind flasher = common::flasher(kind);
        installed[std::string{common::rawValue(kind)}] =
            flasherPath(flasher) ? "OK" : std::string{flasherName(flasher)} + " not found";
    }
    return installed;
}

}  // namespace brisel::workflows
