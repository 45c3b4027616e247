// Before the application starts its service, a service left by an earlier instance may still hold the
// port. The cleanup finds the port's holders through /proc (port_holders.h), sends SIGTERM only to this
// user's brisel_core whose application is gone, leaves any other program alone (logged), and waits,
// bounded, until the port is free. The service of a running application, of this session or another,
// is never stopped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace brisel::desktop::app {

struct CleanupReport {
    std::vector<pid_t> terminated;  // our own brisel_core processes that got SIGTERM
    std::vector<pid_t> leftAlone;   // other listeners on the port that this user can see
    bool portFree = false;          // nothing listened on the port when the cleanup returned
};

// Blocks the calling thread for at most `bound`, only while a stopped service may still hold the port;
// returns at once when nothing listens or nothing was stopped.
CleanupReport stopStaleService(std::uint16_t port, std::chrono::milliseconds bound);

}  // namespace brisel::desktop::app
