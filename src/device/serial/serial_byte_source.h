// The byte source of a board on a USB serial port.
#pragma once

#include <vector>

#include "device/samples/byte_source.h"
#include "device/serial/serial_port.h"

namespace brisel::device {

// Reads an open port owned by the board object, up to `Sample::maxSampleBytes` bytes per read. The port
// must outlive the reader's loop: `SampleReader::stop()` joins the loop before the board closes it.
class SerialByteSource final : public ByteSource {
  public:
    // A wait is cut into slices of at most this length: an unplugged board whose line neither hangs up
    // nor sends is noticed (by its vanished device node) within one slice.
    static constexpr std::chrono::milliseconds kUnplugPollInterval{100};

    explicit SerialByteSource(USBDevice& port);

    // Waits at most min(`wait`, kUnplugPollInterval). Errors: mustBeOpen when the port is closed;
    // deviceNotConnected when the board was unplugged or hung up; failedToRead for any other failure.
    tl::expected<std::size_t, PortError> readSome(std::vector<std::uint8_t>& out,
                                                  std::chrono::milliseconds wait) override;
    void interrupt() override;

  private:
    USBDevice& port_;
    std::vector<std::uint8_t> readBuffer_;
};

}  // namespace brisel::device
