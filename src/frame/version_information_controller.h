// The controller of the browser application's version handshake.
#pragma once

#include <memory>

#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::frame {

class VersionInformationController : public BriselAction {
  public:
    VersionInformationController(std::shared_ptr<WebSocket> ws, VersionInformation versionInfo);

    // Terminates the external tool process in flight, then answers: the handshake reply with the
    // service's build number when the application's build number is not greater than it, else
    // "Local version too old, sending error message" (notice) and the "incompatibleVersion" error reply
    // with the out-of-date notice. The connection stays open either way. Websocket thread.
    void respond() override;

  private:
    std::shared_ptr<WebSocket> ws;
    VersionInformation versionInfo;
};

}  // namespace brisel::frame
