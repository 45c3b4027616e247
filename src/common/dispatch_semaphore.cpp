#include "common/dispatch.h"
#include "common/dispatch_internal.h"

namespace brisel::common {

DispatchSemaphore::DispatchSemaphore(long value) : count(value) {}

void DispatchSemaphore::signal() {
    // Notified under the lock: a waiter that takes the unit may destroy the semaphore at once.
    std::lock_guard lock(mutex);
    ++count;
    available.notify_one();
}

bool DispatchSemaphore::wait(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(mutex);
    if (!available.wait_for(lock, detail::clampedDuration(timeout), [this] { return count > 0; })) {
        return false;
    }
    --count;
    return true;
}

void DispatchSemaphore::wait() {
    std::unique_lock lock(mutex);
    available.wait(lock, [this] { return count > 0; });
    --count;
}

}  // namespace brisel::common
