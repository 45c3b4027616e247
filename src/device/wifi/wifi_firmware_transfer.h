// Sending a firmware image to a WiFi board over its open connection.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

#include "device/wifi/wifi_server_connection.h"

namespace brisel::device {

enum class WifiTransferErrorKind {
    alreadyRunning,  // another transfer runs on this connection; nothing was sent
    ackTimeout,      // the board did not acknowledge in time (or refused a packet and was dropped)
    stopped,         // the flashing flag was cleared while the transfer ran
    imageTooLarge,   // the image cannot be framed
};

struct WifiTransferError {
    WifiTransferErrorKind kind;
    std::string message;
};

// Sends the start packet, the image as 1024-byte write packets, and the flash packet, waiting for the
// board's acknowledgement of the start packet and of every write packet, pausing between the stages,
// then ends the connection so that the board restarts. Blocks the calling thread (never the WiFi io
// thread) for three stage pauses plus the acknowledgement waits. The bytes of each stage are dumped
// to "send_start.bin", "send_write.bin" and "send_flash.bin" in the connection's dump folder.
// Succeeds only when every stage was sent and the connection was closed.
tl::expected<void, WifiTransferError> flashLibrary(WifiServerConnection& connection,
                                                   std::span<const std::uint8_t> binaryData);

// Writes `data` to "<folder>/send_<stage>.bin", replacing an earlier file, readable by the user only.
// A failure is logged and otherwise ignored: a dump never stops a transfer.
void savePacketSent(const std::filesystem::path& folder, std::span<const std::uint8_t> data,
                    std::string_view stage);

}  // namespace brisel::device
