// The kernel's socket tables (/proc/net/tcp and /proc/net/tcp6): which sockets listen on a port, and
// whose they are. Plain C++ without Qt, so that the fuzz target can take it alone.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace brisel::desktop::app {

// One listening socket: its inode (what /proc/<pid>/fd links name) and the user that owns it.
struct ListeningSocket {
    ino_t inode = 0;
    uid_t owner = 0;

    bool operator==(const ListeningSocket&) const = default;
};

// The sockets in `table` (the text of /proc/net/tcp or /proc/net/tcp6) that are in the listening state
// on `port`. Lines that do not have the table's shape are skipped.
std::vector<ListeningSocket> listeningSockets(std::string_view table, std::uint16_t port);

}  // namespace brisel::desktop::app
