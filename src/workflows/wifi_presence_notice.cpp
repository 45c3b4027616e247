#include "workflows/wifi_presence_notice.h"

#include <utility>

#include "common/dispatch.h"

namespace brisel::workflows {

frame::BriselResponse<frame::BriselStringResponse> wifiPresenceReply(bool present) {
    return frame::featureReply(frame::BriselStringResponse{frame::BriselStringCommand::checkDeviceConnection,
                                                           frame::BriselStringResponseStatus::done,
                                                           {{"wifi", present ? "true" : "false"}}});
}

device::PresenceNotifier makeWifiPresenceNotifier(FirstBrowserConnection firstConnection) {
    auto queue = std::make_shared<common::SerialQueue>("com.velko.brisel_core.WifiPresenceQueue",
                                                       common::QualityOfService::utility);
    return [queue, firstConnection = std::move(firstConnection)](bool present) {
        queue->async([firstConnection, present] {
            if (const auto browser = firstConnection()) {
                browser->write(wifiPresenceReply(present));
            }
        });
    };
}

}  // namespace brisel::workflows
