// Who holds a TCP port of this machine, from /proc: the sockets that listen on it (kernel tables), the
// processes whose descriptors are those sockets (this user's processes; every process for root), what
// they run, whose they are, and whether a running `Velko Brisel` is their parent. The stale-service
// cleanup decides from it whom it may stop; the application names the holders when its service cannot
// listen. Blocking reads of /proc; any thread.
#pragma once

#include <sys/types.h>

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisel::desktop::app {

// What /proc tells of one process.
struct ProcessFacts {
    std::string program;  // the process name (/proc/<pid>/comm)
    uid_t owner = 0;
    pid_t parent = 0;
};

// The facts of process `pid`; none when it is gone or cannot be read.
std::optional<ProcessFacts> processFacts(pid_t pid);

// Whether `pid` is a running `Velko Brisel`.
bool isApplication(pid_t pid);

// One holder of a listening socket on the port.
struct PortHolder {
    uid_t owner = 0;                   // the socket's user, known also when its process is out of sight
    std::optional<pid_t> pid;          // the process that holds it, when its descriptors can be read
    std::string program;               // that process's name; empty without pid
    std::optional<pid_t> application;  // the running `Velko Brisel` whose child the process is
};

// Whether a socket listens on `port` (the kernel's tables alone).
bool portInUse(std::uint16_t port);

// The holders of the sockets that listen on `port`: one per process (a process that listens on IPv4
// and IPv6 counts once), and one per user for sockets whose process is out of sight. Empty when the
// port is free.
std::vector<PortHolder> portHolders(std::uint16_t port);

// The holders as the user reads them, such as "python3 (process 1234) of user bob" or "a program of
// user alice", several joined by " and "; a service of another `Velko Brisel` says so. Users without
// a name are given by number.
QString describePortHolders(const std::vector<PortHolder>& holders);

}  // namespace brisel::desktop::app
