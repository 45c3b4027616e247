#include "workflows/workflow_controllers.h"

namespace brisel::workflows {

void registerWorkflowControllers(frame::ControllerRegistry& registry) {
    // One line per feature request: addController<Request, RequestController>(registry);
    (void)registry;
}

}  // namespace brisel::workflows
