// Where a sample reader gets a board's bytes from: a USB serial port, a WiFi connection's buffer or
// the buffer of bytes that the browser relays from a Bluetooth board.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <tl/expected.hpp>

#include "device/samples/port_error.h"

namespace brisel::device {

class ByteSource {
  public:
    virtual ~ByteSource() = default;

    // Waits at most `wait` for bytes and appends what arrived to `out`. Returns the number of bytes
    // appended: 0 when nothing came in time or when `interrupt()` was called. A failure of the link
    // (mustBeOpen, deviceNotConnected, failedToRead) is returned as an error; the reader ends on it.
    // Called on the reader's loop thread only.
    virtual tl::expected<std::size_t, PortError> readSome(std::vector<std::uint8_t>& out,
                                                          std::chrono::milliseconds wait) = 0;

    // Makes a waiting `readSome` return at once, and every later one return without waiting. Any thread.
    virtual void interrupt() = 0;
};

}  // namespace brisel::device
