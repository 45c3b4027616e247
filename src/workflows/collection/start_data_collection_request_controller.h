// The controller of "startDataCollection": records a board's samples into a new cloud collection.
#pragma once

#include <memory>

#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

class StartDataCollectionRequestController final : public frame::BriselAction {
  public:
    StartDataCollectionRequestController(std::shared_ptr<frame::WebSocket> connection,
                                         frame::StartDataCollectionRequest data);

    // Makes the request's cloud the one in force and starts the collection on a workflow thread of its
    // own (DeviceDataCollection::initialize); returns at once. When the workflows that run at once are
    // at their bound, answers "ERROR" with the busy message instead and changes nothing. Websocket
    // thread.
    void respond() override;

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::StartDataCollectionRequest startDataCollectionRequest;
};

}  // namespace brisel::workflows
