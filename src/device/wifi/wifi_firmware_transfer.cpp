#include "device/wifi/wifi_firmware_transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/logger.h"
#include "device/wifi/firmware_packets.h"

namespace brisel::device {

namespace {

using Clock = std::chrono::steady_clock;

// Owns a file descriptor.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd_) : fd(fd_) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int get() const { return fd; }

  private:
    int fd;
};

tl::unexpected<WifiTransferError> failure(WifiTransferErrorKind kind, std::string message) {
    common::logger().error("WIFI: firmware transfer failed: " + message +
                           "; reset the board, let it reconnect and flash it again");
    return tl::make_unexpected(WifiTransferError{kind, std::move(message)});
}

// Clears the flashing flag and frees the connection for the next transfer on every way out.
class TransferClaim {
  public:
    explicit TransferClaim(WifiServerConnection& connection_) : connection(connection_) {}
    TransferClaim(const TransferClaim&) = delete;
    TransferClaim& operator=(const TransferClaim&) = delete;
    ~TransferClaim() { connection.finishTransfer(); }

  private:
    WifiServerConnection& connection;
};

std::string writeError(const std::filesystem::path& path, int error) {
    return "WIFI: Failed to download device binary to disk due to error " +
           std::string(std::strerror(error)) + " (" + path.string() +
           "); check that the temporary folder is writable";
}

}  // namespace

void savePacketSent(const std::filesystem::path& folder, std::span<const std::uint8_t> data,
                    std::string_view stage) {
    if (folder.empty()) {
        return;
    }
    const std::filesystem::path path = folder / ("send_" + std::string(stage) + ".bin");
    common::logger().info("WIFI: Write wifi packet to: file://" + path.string());
    // Private to the user; an existing file is replaced, a symbolic link in its place is refused.
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) {
        common::logger().error(writeError(path, errno));
        return;
    }
    if (::fchmod(file.get(), 0600) != 0) {
        common::logger().error(writeError(path, errno));
        return;
    }
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t result = ::write(file.get(), data.data() + written, data.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            common::logger().error(writeError(path, errno));
            return;
        }
        written += static_cast<std::size_t>(result);
    }
}

tl::expected<void, WifiTransferError> flashLibrary(WifiServerConnection& connection,
                                                   std::span<const std::uint8_t> binaryData) {
    if (!connection.beginTransfer()) {
        return failure(
            WifiTransferErrorKind::alreadyRunning,
            "another firmware transfer is running on connection " + std::to_string(connection.id()));
    }
    const TransferClaim claim(connection);
    const WifiTimings& timings = connection.timings();
    const std::filesystem::path& dumps = connection.dumpFolder();

    connection.setFlashing(true);
    const ProtocolFW protocol;
    const auto startTime = Clock::now();
    const Bytes startPacket = protocol.generateStartPacket();

    if (!connection.acquireAckCheckPacketLock(timings.ackTimeout)) {
        return failure(WifiTransferErrorKind::ackTimeout, "the previous acknowledgement never came");
    }
    common::logger().info("WIFI: SEND START PACKET");
    savePacketSent(dumps, startPacket, "start");
    connection.send(startPacket);
    if (!connection.acquireAckCheckPacketLock(timings.ackTimeout)) {
        return failure(WifiTransferErrorKind::ackTimeout, "the board did not acknowledge the start packet");
    }
    if (!connection.isFlashing()) {
        return failure(WifiTransferErrorKind::stopped, "the transfer was stopped");
    }
    std::this_thread::sleep_for(timings.stagePause);

    const auto writeStream = protocol.generateWritePacket(binaryData);
    if (!writeStream) {
        return failure(WifiTransferErrorKind::imageTooLarge,
                       "the image of " + std::to_string(binaryData.size()) +
                           " bytes cannot be framed: " + writeStream.error().message);
    }
    common::logger().info("WIFI: SEND WRITE PACKET");
    savePacketSent(dumps, *writeStream, "write");
    for (std::size_t offset = 0; offset < writeStream->size(); offset += ProtocolFW::kMaxPacketSize) {
        if (!connection.isFlashing()) {
            return failure(WifiTransferErrorKind::stopped, "the transfer was stopped");
        }
        const std::size_t end = std::min(offset + ProtocolFW::kMaxPacketSize, writeStream->size());
        connection.send(std::vector<std::uint8_t>(writeStream->begin() + static_cast<std::ptrdiff_t>(offset),
                                                  writeStream->begin() + static_cast<std::ptrdiff_t>(end)));
        if (!connection.acquireAckCheckPacketLock(timings.ackTimeout)) {
            return failure(
                WifiTransferErrorKind::ackTimeout,
                "the board did not acknowledge the write packet at byte " + std::to_string(offset));
        }
    }
    if (!connection.isFlashing()) {
        return failure(WifiTransferErrorKind::stopped, "the transfer was stopped");
    }

    std::this_thread::sleep_for(timings.stagePause);
    const Bytes flashPacket = protocol.generateFlashPacket();
    common::logger().info("WIFI: SEND FLASH PACKET");
    savePacketSent(dumps, flashPacket, "flash");
    connection.send(flashPacket);

    std::this_thread::sleep_for(timings.stagePause);
    const std::chrono::duration<double> elapsed = Clock::now() - startTime;
    common::logger().info("WIFI: SENT FLASHING PACKETS, time elapsed: " + std::to_string(elapsed.count()));
    connection.connectionDidEnd();
    return {};
}

}  // namespace brisel::device
