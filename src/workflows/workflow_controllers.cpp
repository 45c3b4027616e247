#include "workflows/workflow_controllers.h"

#include "workflows/contamination_threshold_request_controller.h"
#include "workflows/live_classification_controllers.h"

namespace brisel::workflows {

void registerWorkflowControllers(frame::ControllerRegistry& registry) {
    // One line per feature request: addController<Request, RequestController>(registry);
    addController<frame::ContaminationThresholdRequest, ContaminationThresholdRequestController>(registry);
    addController<frame::LiveClassificationStartRequest, LiveClassificationStartRequestController>(registry);
    addController<frame::LiveClassificationStopRequest, LiveClassificationStopRequestController>(registry);
    addController<frame::LiveClassificationWifiStartRequest, LiveClassificationWifiStartRequestController>(
        registry);
}

}  // namespace brisel::workflows
