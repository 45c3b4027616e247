// The holder of the one external tool process in flight.
#pragma once

#include <atomic>
#include <memory>

#include "common/child_process.h"
#include "common/dispatch.h"

namespace brisel::common {

// Holds at most one child process. Reads and writes run on the serial queue
// "com.velko.brisel_core.InFlightProcessQueue" with the caller waiting, so replacing and
// terminating are atomic with respect to each other; called from that queue itself they run inline.
class RunningProcessManager {
  public:
    // The process-wide instance, created on first use (thread-safe).
    static RunningProcessManager& shared();

    // Tests make their own; the service uses shared().
    RunningProcessManager();
    RunningProcessManager(const RunningProcessManager&) = delete;
    RunningProcessManager& operator=(const RunningProcessManager&) = delete;

    // The held process, or null.
    std::shared_ptr<ChildProcess> inFlightProcess();
    // When a process is held: logs "Terminating process <description>" at info and sends it SIGTERM
    // unless it has already exited. Then holds `process` (null clears). Does not wait for the old
    // process to end. Clearing while nothing is held and no other call is setting a process returns
    // at once, without the queue: every handshake clears, and almost always there is nothing to clear.
    void setInFlightProcess(std::shared_ptr<ChildProcess> process);

  private:
    std::shared_ptr<ChildProcess> held;    // touched only on queue
    std::atomic<bool> holding{false};      // whether `held` is set; written only on queue
    std::atomic<int> settingsUnderway{0};  // calls with a process between their start and their turn
    SerialQueue queue;
};

}  // namespace brisel::common
