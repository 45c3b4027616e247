// The route from a received text message to the controller that serves it.
#pragma once

#include <memory>
#include <string_view>

#include "frame/controller_registry.h"
#include "frame/websocket.h"
#include "frame/websocket_server.h"

namespace brisel::frame {

// Serves one complete text message of a served peer, on the websocket thread: logs it (the value of
// "auth_token" masked; a message holding "saveDataCollectionBluetooth" is not logged), decodes it
// against the route table and starts the controller of the request type that decodes, or answers
// "noData" / "unknownMessageType". A decoded request whose type has no controller yet is logged at
// error level and gets no reply. Never closes the connection.
void dispatchText(const std::shared_ptr<WebSocket>& connection, std::string_view text,
                  const ControllerRegistry& registry);

// The connection set-up of the service, for `WebSocketServer`: logs "Socket server started", and
// installs the open handler that logs "Socket opened" and installs `dispatchText` with `registry` as the
// connection's text handler. Runs on the websocket thread.
WebSocketServer::ConnectHandler routingConnectHandler(std::shared_ptr<const ControllerRegistry> registry);

}  // namespace brisel::frame
