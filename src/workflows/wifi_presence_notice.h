// Telling the browser whether a WiFi board is connected: the WiFi server's presence notices, written
// to the browser.
#pragma once

#include <functional>
#include <memory>

#include "device/wifi/wifi_settings.h"
#include "frame/feature_replies.h"
#include "frame/replies.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// desktopClientResponse / MESSAGE with the payload check_device_connection / DONE / {"wifi": "true"}
// (or "false").
frame::BriselResponse<frame::BriselStringResponse> wifiPresenceReply(bool present);

// Yields the browser connection that should hear about boards (the first served one), or none.
using FirstBrowserConnection = std::function<std::shared_ptr<frame::WebSocket>()>;

// A notifier for the WiFi server that writes wifiPresenceReply to the connection `firstConnection`
// gives at the time of each notice; with no connection the notice is dropped. Notices are written in
// order from a serial queue of their own ("com.velko.brisel_core.WifiPresenceQueue"), so the WiFi io
// thread never waits for the browser. The queue lives as long as any copy of the notifier.
device::PresenceNotifier makeWifiPresenceNotifier(FirstBrowserConnection firstConnection);

}  // namespace brisel::workflows
