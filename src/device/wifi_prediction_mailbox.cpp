#include "device/wifi_prediction_mailbox.h"

namespace brisel::device {

void PredictionMailbox::store(std::string text) {
    std::lock_guard lock(mutex);
    current = std::move(text);
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
