#include "workflows/workflow_controllers.h"

#include "workflows/contamination_threshold_request_controller.h"

namespace brisel::workflows {

void registerWorkflowControllers(frame::ControllerRegistry& registry) {
    // One line per feature request: addController<Request, RequestController>(registry);
    addController<frame::ContaminationThresholdRequest, ContaminationThresholdRequestController>(registry);
}

}  // namespace brisel::workflows
