#include "frame/write_wakeup.h"

#include <libwebsockets.h>

namespace brisel::frame {

void WriteWakeup::attach(lws_context* serviced) {
    std::lock_guard lock(mutex);
    context = serviced;
    serviceThread.store(std::this_thread::get_id());
}

void WriteWakeup::detach() {
    std::lock_guard lock(mutex);
    context = nullptr;
    serviceThread.store(std::thread::id());
    marked.clear();
}

bool WriteWakeup::markForWriting(const std::shared_ptr<WebSocket>& connection) {
    std::lock_guard lock(mutex);
    if (context == nullptr) {
        return false;
    }
    const bool wakeupPending = !marked.empty();
    marked.push_back(connection);
    // A wake-up already on its way takes this mark too (takeMarked swaps the whole list).
    if (!wakeupPending) {
        // Safe from any thread while the context exists; the lock keeps `detach` from racing it.
        lws_cancel_service(context);
    }
    return true;
}

void WriteWakeup::wake() {
    std::lock_guard lock(mutex);
    if (context != nullptr) {
        lws_cancel_service(context);
    }
}

std::vector<std::shared_ptr<WebSocket>> WriteWakeup::takeMarked() {
    std::vector<std::weak_ptr<WebSocket>> taken;
    {
        std::lock_guard lock(mutex);
        taken.swap(marked);
    }
    std::vector<std::shared_ptr<WebSocket>> alive;
    alive.reserve(taken.size());
    for (auto& weak : taken) {
        if (auto connection = weak.lock()) {
            alive.push_back(std::move(connection));
        }
    }
    return alive;
}

bool WriteWakeup::isServiceThread() const {
    // Only the service thread itself can find its own id here: it stores and clears it.
    return serviceThread.load() == std::this_thread::get_id();
}

}  // namespace brisel::frame
