#include "desktop/app/listening_sockets.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

namespace brisel::desktop::app {

namespace {

// Fields of a table line: "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode".
constexpr std::size_t kLocalAddress = 1;
constexpr std::size_t kState = 3;
constexpr std::size_t kOwner = 7;
constexpr std::size_t kInode = 9;
constexpr std::string_view kListenState = "0A";

std::array<std::string_view, kInode + 1> fieldsOf(std::string_view line, std::size_t& count) {
    std::array<std::string_view, kInode + 1> fields{};
    count = 0;
    std::size_t at = 0;
    while (count < fields.size()) {
        at = line.find_first_not_of(' ', at);
        if (at == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find(' ', at), line.size());
        fields[count++] = line.substr(at, end - at);
        at = end;
    }
    return fields;
}

template <typename Number>
bool parseWhole(std::string_view text, int base, Number& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, base);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

}  // namespace

std::vector<ListeningSocket> listeningSockets(std::string_view table, std::uint16_t port) {
    std::vector<ListeningSocket> sockets;
    while (!table.empty()) {
        const std::size_t lineEnd = std::min(table.find('\n'), table.size());
        const std::string_view line = table.substr(0, lineEnd);
        table.remove_prefix(std::min(lineEnd + 1, table.size()));

        std::size_t count = 0;
        const auto fields = fieldsOf(line, count);
        if (count <= kInode || fields[kState] != kListenState) {
            continue;
        }
        const std::string_view local = fields[kLocalAddress];
        const std::size_t colon = local.rfind(':');
        std::uint16_t localPort = 0;
        ListeningSocket socket;
        if (colon == std::string_view::npos || !parseWhole(local.substr(colon + 1), 16, localPort) ||
            !parseWhole(fields[kInode], 10, socket.inode) || !parseWhole(fields[kOwner], 10, socket.owner)) {
            continue;
        }
        if (localPort == port && socket.inode != 0) {
            sockets.push_back(socket);
        }
    }
    return sockets;
}

}  // namespace brisel::desktop::app
