#include "frame/version_information_controller.h"

#include "common/logger.h"
#include "common/running_process_manager.h"
#include "frame/error_controller.h"
#include "frame/replies.h"

namespace brisel::frame {

VersionInformationController::VersionInformationController(std::shared_ptr<WebSocket> connection,
                                                           VersionInformation request)
    : ws(std::move(connection)), versionInfo(request) {}

void VersionInformationController::respond() {
    common::RunningProcessManager::shared().setInFlightProcess(nullptr);
    if (versionInfo.buildNumber > kServiceBuildNumber) {
        common::logger().notice("Local version too old, sending error message");
        ErrorController(ws, incompatibleVersionError()).respond();
        return;
    }
    // The reply never changes: it is encoded once, on the first handshake.
    static const auto text = encodeReply(handshakeReply());
    if (!text) {
        common::logger().critical("Could not serialize handshake message");
        return;
    }
    ws->write(std::string_view(*text));
}

}  // namespace brisel::frame
