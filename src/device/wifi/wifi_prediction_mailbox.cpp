#include "device/wifi/wifi_prediction_mailbox.h"

namespace brisel::device {

void PredictionMailbox::store(std::string text) {
    {
        std::lock_guard lock(mutex);
        current = std::move(text);
    }
    changed.notify_all();
}

std::string PredictionMailbox::take() {
    std::lock_guard lock(mutex);
    std::string taken = std::move(current);
    current = kPending;
    return taken;
}

std::string PredictionMailbox::waitAndTake(std::chrono::steady_clock::duration timeout) {
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, timeout, [&] { return current != kPending; })) {
        return std::string(kPending);
    }
    std::string taken = std::move(current);
    current = kPending;
    return taken;
}

void PredictionMailbox::clear() {
    {
        std::lock_guard lock(mutex);
        current.clear();
    }
    changed.notify_all();
}

}  // namespace brisel::device
