// The controllers of the feature requests, entered into the route table.
#pragma once

#include <memory>

#include "frame/controller_registry.h"

namespace brisel::workflows {

// Makes `Controller` (constructed from the connection and the request) the controller of `Request`.
template <class Request, class Controller>
void addController(frame::ControllerRegistry& registry) {
    registry.add<Request>([](const std::shared_ptr<frame::WebSocket>& connection, const Request& request) {
        return std::make_shared<Controller>(connection, request);
    });
}

// Enters the controller of every feature request that the service serves into `registry`.
void registerWorkflowControllers(frame::ControllerRegistry& registry);

}  // namespace brisel::workflows
