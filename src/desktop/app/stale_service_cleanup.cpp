#include "desktop/app/stale_service_cleanup.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDebug>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "common/desktop_link.h"
#include "desktop/app/listening_sockets.h"
#include "desktop/link/link_text.h"

namespace brisel::desktop::app {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<ino_t> listeners(std::uint16_t port) {
    std::vector<ino_t> inodes = listeningSocketInodes(readWhole("/proc/net/tcp"), port);
    const auto ipv6 = listeningSocketInodes(readWhole("/proc/net/tcp6"), port);
    inodes.insert(inodes.end(), ipv6.begin(), ipv6.end());
    return inodes;
}

// Whether one of the process's descriptors is one of the sockets.
bool holdsSocket(const fs::path& process, const std::vector<ino_t>& sockets) {
    std::error_code error;
    for (fs::directory_iterator fd(process / "fd", error), end; !error && fd != end; fd.increment(error)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(fd->path(), linkError).string();
        if (linkError || !target.starts_with("socket:[") || !target.ends_with(']')) {
            continue;
        }
        const std::string number = target.substr(8, target.size() - 9);
        if (std::any_of(sockets.begin(), sockets.end(),
                        [&number](ino_t inode) { return std::to_string(inode) == number; })) {
            return true;
        }
    }
    return false;
}

bool isOurService(const fs::path& process) {
    struct stat status {};
    if (::stat(process.c_str(), &status) != 0 || status.st_uid != ::getuid()) {
        return false;
    }
    std::string name = readWhole(process / "comm");
    while (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name == desktop_link::kServiceProgram;
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
    const std::vector<ino_t> sockets = listeners(port);
    if (sockets.empty()) {
        report.portFree = true;
        return report;
    }
    std::vector<ProcessHandle> signalled;
    std::error_code error;
    for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        pid_t pid = 0;
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            (pid = static_cast<pid_t>(std::stol(name))) == ::getpid() ||
            !holdsSocket(entry->path(), sockets)) {
            continue;
        }
        ProcessHandle handle(pid);
        // Checked again through the handle's process, which cannot be replaced behind it.
        if (handle.valid() && isOurService(entry->path()) && handle.terminate()) {
            qInfo().noquote() << "Sent SIGTERM to the stale service" << pid << "listening on port" << port;
            report.terminated.push_back(pid);
            signalled.push_back(std::move(handle));
        } else {
            qWarning().noquote() << "Leaving process" << pid << "alone: it listens on port" << port
                                 << "but is not this user's" << link::qtText(desktop_link::kServiceProgram);
            report.leftAlone.push_back(pid);
        }
    }
    // Wait for the signalled processes to end, then for the kernel to drop their sockets.
    std::vector<pollfd> exits;
    for (const auto& handle : signalled) {
        exits.push_back({.fd = handle.fd(), .events = POLLIN, .revents = 0});
    }
    while (Clock::now() < deadline) {
        if (listeners(port).empty()) {
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
    report.portFree = listeners(port).empty();
    if (!report.portFree) {
        qWarning().noquote() << "Port" << port << "is still in use; the service may fail to start";
    }
    return report;
}

}  // namespace brisel::desktop::app
