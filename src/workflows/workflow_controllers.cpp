#include "workflows/workflow_controllers.h"

#include "frame/requests.h"
#include "workflows/checks/check_dependencies_request_controller.h"
#include "workflows/checks/check_device_connection_request_controller.h"
#include "workflows/checks/measure_latency_request_controller.h"
#include "workflows/classification/contamination_threshold_request_controller.h"
#include "workflows/classification/live_classification_controllers.h"
#include "workflows/collection/collection_sync_request_controller.h"
#include "workflows/collection/save_data_collection_bluetooth_request_controller.h"
#include "workflows/collection/start_data_collection_request_controller.h"
#include "workflows/flash/flash_request_controller.h"
#include "workflows/flash/flash_wifi_request_controller.h"

namespace brisel::workflows {

void registerWorkflowControllers(frame::ControllerRegistry& registry) {
    // One line per feature request: addController<Request, RequestController>(registry);
    addController<frame::FlashRequest, FlashRequestController>(registry);
    addController<frame::FlashWifiRequest, FlashWifiRequestController>(registry);
    addController<frame::StartDataCollectionRequest, StartDataCollectionRequestController>(registry);
    addController<frame::SaveDataCollectionBluetoothRequest, SaveDataCollectionBluetoothRequestController>(
        registry);
    addController<frame::CollectionSyncRequest, CollectionSyncRequestController>(registry);
    addController<frame::MeasureLatencyRequest, MeasureLatencyRequestController>(registry);
    addController<frame::MeasureLatencyWifiRequest, MeasureLatencyWifiRequestController>(registry);
    addController<frame::CheckDependenciesRequest, CheckDependenciesRequestController>(registry);
    addController<frame::CheckDeviceConnectionRequest, CheckDeviceConnectionRequestController>(registry);
    addController<frame::ContaminationThresholdRequest, ContaminationThresholdRequestController>(registry);
    addController<frame::LiveClassificationStartRequest, LiveClassificationStartRequestController>(registry);
    addController<frame::LiveClassificationStopRequest, LiveClassificationStopRequestController>(registry);
    addController<frame::LiveClassificationWifiStartRequest, LiveClassificationWifiStartRequestController>(
        registry);
}

}  // namespace brisel::workflows
