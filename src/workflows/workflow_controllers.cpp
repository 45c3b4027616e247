#include "workflows/workflow_controllers.h"

#include "workflows/flash_request_controller.h"
#include "workflows/flash_wifi_request_controller.h"

namespace brisel::workflows {

void registerWorkflowControllers(frame::ControllerRegistry& registry) {
    // One line per feature request: addController<Request, RequestController>(registry);
    addController<frame::FlashRequest, FlashRequestController>(registry);
    addController<frame::FlashWifiRequest, FlashWifiRequestController>(registry);
}

}  // namespace brisel::workflows
