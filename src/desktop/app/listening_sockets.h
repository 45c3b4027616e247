// The kernel's socket tables (/proc/net/tcp and /proc/net/tcp6): which sockets listen on a port.
// Plain C++ without Qt, so that the fuzz target can take it alone.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace brisel::desktop::app {

// The inodes of the sockets in `table` (the text of /proc/net/tcp or /proc/net/tcp6) that are in the
// listening state on `port`. Lines that do not have the table's shape are skipped.
std::vector<ino_t> listeningSocketInodes(std::string_view table, std::uint16_t port);

}  // namespace brisel::desktop::app
