// The dependency check: which board kinds have their flashing tool installed.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

class CheckDependenciesRequestController : public frame::BriselAction {
  public:
    CheckDependenciesRequestController(std::shared_ptr<frame::WebSocket> connection,
                                       frame::CheckDependenciesRequest request);

    // Logs "Dependency request received" and answers one "check_dependencies" reply with
    // checkDependencies(). Only looks at files: answers at once. Websocket thread.
    void respond() override;

    // One entry per board kind (its raw value): "OK" when its flasher's tool is installed, else the
    // flasher's name followed by " not found". Installed means what the flashers themselves require
    // before they run a tool (flasherPath), so that "OK" never names a tool a flash would refuse.
    static std::map<std::string, std::string> checkDependencies();

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::CheckDependenciesRequest dependenciesRequest;
};

}  // namespace brisel::workflows
