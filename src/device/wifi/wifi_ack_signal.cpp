#include "device/wifi/wifi_ack_signal.h"

namespace brisel::device {

bool AckSignal::acquire(std::chrono::steady_clock::duration timeout) {
    std::unique_lock lock(mutex);
    if (!released.wait_for(lock, timeout, [this] { return available; })) {
        return false;
    }
    available = false;
    return true;
}

void AckSignal::release() {
    {
        std::lock_guard lock(mutex);
        available = true;
    }
    released.notify_one();
}

}  // namespace brisel::device
