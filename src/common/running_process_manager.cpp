#include "common/running_process_manager.h"

#include <utility>

#include "common/logger.h"

namespace brisel::common {

RunningProcessManager& RunningProcessManager::shared() {
    logger();  // destroyed after the holder, whose queue may still log
    static RunningProcessManager instance;
    return instance;
}

RunningProcessManager::RunningProcessManager() : queue("com.velko.brisel_core.InFlightProcessQueue") {}

std::shared_ptr<ChildProcess> RunningProcessManager::inFlightProcess() {
    std::shared_ptr<ChildProcess> process;
    queue.sync([&] { process = held; });
    return process;
}

void RunningProcessManager::setInFlightProcess(std::shared_ptr<ChildProcess> process) {
    // With nothing held and no process on its way to be held, a clear has nothing to do. The count
    // is read first: a set that has finished counting down has already marked its process held.
    const bool setting = process != nullptr;
    if (!setting) {
        if (settingsUnderway.load(std::memory_order_acquire) == 0 &&
            !holding.load(std::memory_order_acquire)) {
            return;
        }
    } else {
        settingsUnderway.fetch_add(1, std::memory_order_acq_rel);
    }
    queue.sync([&] {
        if (held) {
            logger().info("Terminating process " + held->description());
            held->terminate();
        }
        held = std::move(process);
        holding.store(held != nullptr, std::memory_order_release);
        if (setting) {
            settingsUnderway.fetch_sub(1, std::memory_order_acq_rel);
        }
    });
}

}  // namespace brisel::common
