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
    // Seeing nothing held, a clear takes effect right there: before any concurrent set that is
    // still on its way through the queue.
    if (!process && !holding.load(std::memory_order_acquire)) {
        return;
    }
    queue.sync([&] {
        if (held) {
            logger().info("Terminating process " + held->description());
            held->terminate();
        }
        held = std::move(process);
        holding.store(held != nullptr, std::memory_order_release);
    });
}

}  // namespace brisel::common
