#include "device/wifi_prediction_mailbox.h"

namespace brisel::device {

bool PredictionMailbox::store(std::string text, std::chrono::steady_clock::duration lockWait) {
    std::unique_lock lock(mutex, std::defer_lock);
    if (!lock.try_lock_for(lockWait)) {
        return false;
    }
    current = std::move(text);
    return true;
}

std::string PredictionMailbox::take() {
    std::lock_guard lock(mutex);
    std::string taken = std::move(current);
    current = kPending;
    return taken;
}

void PredictionMailbox::clear() {
    std::lock_guard lock(mutex);
    current.clear();
}

}  // namespace brisel::device
