// The controller that sends an error reply.
#pragma once

#include <memory>

#include "frame/brisel_action.h"
#include "frame/replies.h"
#include "frame/websocket.h"

namespace brisel::frame {

// Created directly with the connection and the error (never from received data).
class ErrorController : public BriselAction {
  public:
    ErrorController(std::shared_ptr<WebSocket> ws, BriselError error);

    // Logs "Sending error to client brisel_core_lib.BriselError" (warning) and writes the error reply
    // {"command":"error","status":"ERROR","data":{...}} to the connection; a reply that cannot be
    // encoded is logged ("Failed to serialize error message") and not sent. Any thread.
    void respond() override;

  private:
    std::shared_ptr<WebSocket> ws;
    BriselError error;
};

}  // namespace brisel::frame
