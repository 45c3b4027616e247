#include "workflows/wifi_presence_notice.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <utility>

#include "common/dispatch.h"

namespace brisel::workflows {

namespace {

// The notices of one notifier: what the browser should hear next, and what it was told last. The
// notices come on the WiFi io thread; the writes run on the notifier's queue, at most one of them
// queued at a time, so that a flood of connections costs the queue nothing.
class PresenceNotices : public std::enable_shared_from_this<PresenceNotices> {
  public:
    explicit PresenceNotices(FirstBrowserConnection firstConnection_)
        : firstConnection(std::move(firstConnection_)),
          queue("com.velko.brisel_core.WifiPresenceQueue", common::QualityOfService::utility) {}

    // WiFi io thread.
    void notice(bool present) {
        auto browser = firstConnection();
        std::lock_guard lock(mutex);
        latest = Notice{std::move(browser), present};
        if (writeQueued) {
            return;  // the queued write takes the latest notice
        }
        writeQueued = true;
        const auto now = std::chrono::steady_clock::now();
        const auto due = lastWrite ? *lastWrite + kWifiPresenceNoticeInterval : now;
        queue.asyncAfter(due - now, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->write();
            }
        });
    }

  private:
    struct Notice {
        std::shared_ptr<frame::WebSocket> browser;  // none: nobody to tell
        bool present = false;
    };

    // The notifier's queue: writes the latest notice unless that browser connection was told it last.
    void write() {
        Notice next;
        {
            std::lock_guard lock(mutex);
            writeQueued = false;
            next = std::exchange(latest, Notice{});
            if (!next.browser || (told.lock() == next.browser && toldPresent == next.present)) {
                return;
            }
            lastWrite = std::chrono::steady_clock::now();
            told = next.browser;
            toldPresent = next.present;
        }
        next.browser->write(wifiPresenceReply(next.present));
    }

    const FirstBrowserConnection firstConnection;
    std::mutex mutex;
    Notice latest;                                                   // guarded by mutex
    bool writeQueued = false;                                        // guarded by mutex
    std::optional<std::chrono::steady_clock::time_point> lastWrite;  // guarded by mutex
    std::weak_ptr<frame::WebSocket> told;                            // guarded by mutex
    bool toldPresent = false;                                        // guarded by mutex
    // Last, so destroyed first: writes still queued then find the notices gone and do nothing.
    common::SerialQueue queue;
};

}  // namespace

frame::BriselResponse<frame::BriselStringResponse> wifiPresenceReply(bool present) {
    return frame::featureReply(frame::BriselStringResponse{frame::BriselStringCommand::checkDeviceConnection,
                                                           frame::BriselStringResponseStatus::done,
                                                           {{"wifi", present ? "true" : "false"}}});
}

device::PresenceNotifier makeWifiPresenceNotifier(FirstBrowserConnection firstConnection) {
    auto notices = std::make_shared<PresenceNotices>(std::move(firstConnection));
    return [notices](bool present) {
        notices->notice(present);
    };
}

}  // namespace brisel::workflows
