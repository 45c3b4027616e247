#include "frame/controller_registry.h"

#include "frame/version_information_controller.h"

namespace brisel::frame {

ControllerRegistry ControllerRegistry::withFrameControllers() {
    ControllerRegistry registry;
    registry.add<VersionInformation>(
        [](const std::shared_ptr<WebSocket>& connection, const VersionInformation& request) {
            return std::make_shared<VersionInformationController>(connection, request);
        });
    return registry;
}

std::shared_ptr<BriselAction> ControllerRegistry::create(const std::shared_ptr<WebSocket>& connection,
                                                         const RoutedRequest& request) const {
    const auto& factory = factories.at(request.index());
    if (!factory) {
        return nullptr;
    }
    return factory(connection, request);
}

std::string_view requestTypeName(const RoutedRequest& request) {
    static constexpr auto kNames = std::to_array<std::string_view>({
        "VersionInformation",
        "FlashRequest",
        "FlashWifiRequest",
        "StartDataCollectionRequest",
        "SaveDataCollectionBluetoothRequest",
        "LiveClassificationStartRequest",
        "LiveClassificationStopRequest",
        "LiveClassificationWifiStartRequest",
        "MeasureLatencyRequest",
        "MeasureLatencyWifiRequest",
        "CheckDependenciesRequest",
        "CheckDeviceConnectionRequest",
        "ContaminationThresholdRequest",
        "CollectionSyncRequest",
    });
    static_assert(kNames.size() == std::variant_size_v<RoutedRequest>, "one name per routed request type");
    return kNames.at(request.index());
}

}  // namespace brisel::frame
