// Fuzzes the reader of the kernel's socket tables that the tray application's stale-service cleanup
// uses: any text, any port.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "desktop/app/listening_sockets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto port = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    const std::string_view table(reinterpret_cast<const char*>(data + 2), size - 2);
    const auto sockets = brisel::desktop::app::listeningSockets(table, port);
    // At most one socket per line, and never the inode 0 of a closed socket.
    std::size_t lines = 1;
    for (const char character : table) {
        lines += character == '\n' ? 1 : 0;
    }
    if (sockets.size() > lines) {
        std::abort();
    }
    for (const auto& socket : sockets) {
        if (socket.inode == 0) {
            std::abort();
        }
    }
    return 0;
}
