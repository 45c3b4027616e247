// Telling the browser whether a WiFi board is connected: the WiFi server's presence notices, written
// to the browser.
#pragma once

#include <chrono>
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

// At most one presence notice is written to the browser per this interval.
inline constexpr std::chrono::milliseconds kWifiPresenceNoticeInterval{250};

// A notifier for the WiFi server that tells the browser connection `firstConnection` gives at the
// time of each notice when presence changes: wifiPresenceReply is written when it differs from the
// last notice written to that connection (a new browser connection hears the next notice), at most
// once per kWifiPresenceNoticeInterval; notices that come sooner are folded into one write of the
// latest of them when the interval is over. With no connection the notice is dropped. So a browser
// hears a board come and go however fast hosts connect to the board port, in a few messages a second.
// Writes run on a serial queue of their own ("com.velko.brisel_core.WifiPresenceQueue"), at most one
// queued at a time, so the WiFi io thread never waits for the browser. The queue lives as long as any
// copy of the notifier; writes still to come then are dropped.
device::PresenceNotifier makeWifiPresenceNotifier(FirstBrowserConnection firstConnection);

}  // namespace brisel::workflows
