#include "frame/request_dispatcher.h"

#include <string>

#include "common/logger.h"
#include "common/peer_text.h"
#include "frame/credential_masking.h"
#include "frame/error_controller.h"
#include "frame/route_decoding.h"

namespace brisel::frame {
namespace {

void sendError(const std::shared_ptr<WebSocket>& connection, BriselErrorType kind) {
    ErrorController(connection, BriselError{kind, std::nullopt}).respond();
}

}  // namespace

void dispatchText(const std::shared_ptr<WebSocket>& connection, std::string_view text,
                  const ControllerRegistry& registry) {
    if (text.find("saveDataCollectionBluetooth") == std::string_view::npos) {
        common::logger().info("Received web socket data: " + common::peerTextForLog(maskedCredentials(text)));
    }
    auto decoded = decodeAndChoose(text);
    if (!decoded) {
        if (decoded.error() == RouteDecodingError::noBytes) {
            common::logger().warning("No data received from client");
            sendError(connection, BriselErrorType::noData);
        } else {
            common::logger().error("Failed to decode message from client");
            sendError(connection, BriselErrorType::unknownMessageType);
        }
        return;
    }
    auto controller = registry.create(connection, *decoded);
    if (!controller) {
        common::logger().error("No controller serves " + std::string(requestTypeName(*decoded)) +
                               " in this build; the request gets no reply. Install the complete service.");
        return;
    }
    controller->respond();
}

WebSocketServer::ConnectHandler routingConnectHandler(std::shared_ptr<const ControllerRegistry> registry) {
    return [registry = std::move(registry)](const std::shared_ptr<WebSocket>& connection) {
        common::logger().info("Socket server started");
        connection->onOpen([registry](const std::shared_ptr<WebSocket>& opened) {
            common::logger().info("Socket opened");
            opened->onText([registry](const std::shared_ptr<WebSocket>& sender, std::string_view text) {
                dispatchText(sender, text, *registry);
            });
        });
    };
}

}  // namespace brisel::frame
