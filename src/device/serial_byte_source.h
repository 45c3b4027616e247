// The byte source of a board on a USB serial port.
#pragma once

#include <vector>

#include "device/byte_source.h"
#include "device/serial_port.h"

namespace brisel::device {

// Reads an open port owned by the board object, up to `Sample::maxSampleBytes` bytes per read. The port
// must outlive the reader's loop: `SampleReader::stop()` joins the loop before the board closes it.
class SerialByteSource final : public ByteSource {
  public:
    explicit SerialByteSource(USBDevice& port);

    // Errors: mustBeOpen when the port is closed; deviceNotConnected when the board was unplugged or
    // hung up; failedToRead for any other failure of the read.
    tl::expected<std::size_t, PortError> readSome(std::vector<std::uint8_t>& out,
                                                  std::chrono::milliseconds wait) override;
    void interrupt() override;

  private:
    USBDevice& port_;
    std::vector<std::uint8_t> readBuffer_;
};

}  // namespace brisel::device
