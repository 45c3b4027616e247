#include "desktop/app/stale_service_cleanup.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDebug>
#include <algorithm>
#include <csignal>
#include <utility>

#include "common/desktop_link.h"
#include "desktop/app/port_holders.h"
#include "desktop/link/link_text.h"

namespace brisel::desktop::app {

namespace {

using Clock = std::chrono::steady_clock;

// A service whose application is gone: this user's brisel_core whose parent is no running Velko Brisel
// (the service of a running application, of this session or another, is never stale).
bool isStaleService(const ProcessFacts& process) {
    return process.owner == ::getuid() && process.program == desktop_link::kServiceProgram &&
           !isApplication(process.parent);
}

// A descriptor of one process, so that a signal never reaches a reused pid. (Called through syscall():
// Debian 12's <sys/pidfd.h> lacks C linkage for C++.)
class ProcessHandle {
  public:
    explicit ProcessHandle(pid_t pid) : descriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
    ~ProcessHandle() {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
    ProcessHandle(ProcessHandle&& other) noexcept : descriptor(std::exchange(other.descriptor, -1)) {}
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    ProcessHandle& operator=(ProcessHandle&&) = delete;

    bool valid() const { return descriptor >= 0; }
    bool terminate() const { return ::syscall(SYS_pidfd_send_signal, descriptor, SIGTERM, nullptr, 0) == 0; }
    int fd() const { return descriptor; }

  private:
    int descriptor;
};

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1000));
}

}  // namespace

CleanupReport stopStaleService(std::uint16_t port, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    CleanupReport report;
    const std::vector<PortHolder> holders = portHolders(port);
    if (holders.empty()) {
        report.portFree = true;
        return report;
    }
    std::vector<ProcessHandle> signalled;
    for (const PortHolder& holder : holders) {
        if (!holder.pid || *holder.pid == ::getpid()) {
            continue;
        }
        const pid_t pid = *holder.pid;
        ProcessHandle handle(pid);
        // Checked again through the handle's process, which cannot be replaced behind it.
        const auto process = processFacts(pid);
        if (handle.valid() && process && isStaleService(*process) && handle.terminate()) {
            qInfo().noquote() << "Sent SIGTERM to the stale service" << pid << "listening on port" << port;
            report.terminated.push_back(pid);
            signalled.push_back(std::move(handle));
            continue;
        }
        if (holder.application) {
            qInfo().noquote() << QStringLiteral(
                                     "Leaving process %1 alone: it is the service of %2 %3, which runs")
                                     .arg(QString::number(pid),
                                          link::qtText(desktop_link::kApplicationProgram),
                                          QString::number(*holder.application));
        } else {
            qWarning().noquote() << "Leaving process" << pid << "alone: it listens on port" << port
                                 << "but is not this user's" << link::qtText(desktop_link::kServiceProgram);
        }
        report.leftAlone.push_back(pid);
    }
    if (signalled.empty()) {
        return report;  // nothing that was asked to go
    }
    // Wait for the signalled processes to end, then for the kernel to drop their sockets.
    std::vector<pollfd> exits;
    for (const auto& handle : signalled) {
        exits.push_back({.fd = handle.fd(), .events = POLLIN, .revents = 0});
    }
    while (Clock::now() < deadline) {
        if (!portInUse(port)) {
            report.portFree = true;
            return report;
        }
        if (exits.empty()) {
            ::poll(nullptr, 0, std::min(millisecondsUntil(deadline), 20));
        } else {
            ::poll(exits.data(), exits.size(), millisecondsUntil(deadline));
            std::erase_if(exits, [](const pollfd& exit) { return exit.revents != 0; });
        }
    }
    report.portFree = !portInUse(port);
    if (!report.portFree) {
        qWarning().noquote() << "Port" << port << "is still in use; the service may fail to start";
    }
    return report;
}

}  // namespace brisel::desktop::app
