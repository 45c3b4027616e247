#include "frame/error_controller.h"

#include "common/logger.h"

namespace brisel::frame {

ErrorController::ErrorController(std::shared_ptr<WebSocket> connection, BriselError sent)
    : ws(std::move(connection)), error(std::move(sent)) {}

void ErrorController::respond() {
    common::logger().warning("Sending error to client brisel_core_lib.BriselError");
    auto text = encodeReply(errorReply(error));
    if (!text) {
        common::logger().error("Failed to serialize error message");
        return;
    }
    ws->write(std::string_view(*text));
}

}  // namespace brisel::frame
