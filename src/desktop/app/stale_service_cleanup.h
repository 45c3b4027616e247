// Before the application starts its service, a service left by an earlier instance may still hold the
// port. The cleanup finds the port's listeners through /proc, sends SIGTERM only to this user's
// brisel_core among them, leaves any other program alone (logged), and waits, bounded, until the port
// is free.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace brisel::desktop::app {

struct CleanupReport {
    std::vector<pid_t> terminated;  // our own brisel_core processes that got SIGTERM
    std::vector<pid_t> leftAlone;   // other listeners on the port
    bool portFree = false;          // nothing listened on the port when the cleanup returned
};

// Blocks the calling thread for at most `bound` (only while a listener is there).
CleanupReport stopStaleService(std::uint16_t port, std::chrono::milliseconds bound);

}  // namespace brisel::desktop::app
