// The byte source of a WiFi board: the sample bytes that its connection keeps while saving is on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <vector>

#include "device/samples/byte_source.h"
#include "device/wifi/wifi_server_connection.h"

namespace brisel::device {

// Drains the connection's data buffer (`WifiDataBuffer::waitAndTake`). Keeps the connection alive for
// as long as the reader holds the source.
class WifiByteSource final : public ByteSource {
  public:
    // `connection` must not be null.
    explicit WifiByteSource(std::shared_ptr<WifiServerConnection> connection);

    // Waits at most `wait` for bytes. Error: deviceNotConnected once the connection has ended and every
    // byte it kept has been taken (not after `interrupt()`, which is a stop, not a failure).
    tl::expected<std::size_t, PortError> readSome(std::vector<std::uint8_t>& out,
                                                  std::chrono::milliseconds wait) override;
    void interrupt() override;

  private:
    std::shared_ptr<WifiServerConnection> connection_;
    std::stop_source stop_;
};

}  // namespace brisel::device
