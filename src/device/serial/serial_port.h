// One serial port of a board attached by USB: raw terminal settings, bounded reads, writes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

#include "common/file_descriptor.h"
#include "device/samples/port_error.h"
#include "device/serial/usb_id.h"

namespace brisel::device {

// Line speeds; each maps to the speed in its name, baud0 to speed 0 (hang up).
enum class BaudRate {
    baud0,
    baud50,
    baud75,
    baud110,
    baud134,
    baud150,
    baud200,
    baud300,
    baud600,
    baud1200,
    baud1800,
    baud2400,
    baud4800,
    baud9600,
    baud19200,
    baud38400,
    baud57600,
    baud115200,
    baud230400,
    baud460800,
    baud921600,
    baud1500000,
    baud3000000,
};

enum class DataBitsSize { bits5, bits6, bits7, bits8 };
enum class ParityType { none, even, odd };
enum class StopBits : std::uint8_t { stopBits1, stopBits2 };

// Owns the open descriptor of one serial device node. Move-only; an open port is closed when it is
// destroyed. The terminal settings are left as open() set them when the port closes (the hang-up on
// close that drops DTR is kept: a bootloader touch at 1200 baud relies on it).
//
// Threads: open, close, readBytes and writeBytes are called by one thread at a time (the owner).
// interrupt() may be called from any thread at any time while the object exists.
class USBDevice {
  public:
    // An unopened port of a board of kind `kindName` ("NANO_33_BLE", ...). `path` is the device node,
    // no value when discovery found none. `timeout` is the inter-byte time in tenths of a second,
    // written into the terminal settings (VTIME).
    USBDevice(std::string kindName, std::optional<std::string> path, UsbId ids, std::uint8_t timeout = 5);
    ~USBDevice();

    USBDevice(USBDevice&&) noexcept = default;
    USBDevice& operator=(USBDevice&& other) noexcept;
    USBDevice(const USBDevice&) = delete;
    USBDevice& operator=(const USBDevice&) = delete;

    const std::string& kindName() const { return kindName_; }
    const std::optional<std::string>& path() const { return path_; }
    UsbId ids() const { return ids_; }
    std::uint16_t vid() const { return ids_.vendor; }
    std::uint16_t pid() const { return ids_.product; }
    std::uint8_t timeout() const { return timeout_; }
    // The line's inter-byte time as a duration: a caller that drains a board's answer reads with this
    // wait until a read gives no bytes.
    std::chrono::milliseconds quietGap() const { return std::chrono::milliseconds(100 * timeout_); }
    bool deviceOpen() const { return port_.valid(); }

    // Opens the device node for exclusive use (flock; a port held by another process or object is
    // refused), close-on-exec, non-blocking, and applies raw settings at the given speed with the
    // given framing, without flow control. Already open: logs a warning and changes nothing.
    // Errors: invalidPath (no path; no system call is made), failedToOpen (cannot open, in use, not a
    // terminal, settings refused); each failure is logged, and a refusal for lack of permission
    // (EACCES, EPERM) adds a line telling the user how to get access to serial ports.
    tl::expected<void, PortError> open(BaudRate baudRate, StopBits stopBits, ParityType parity,
                                       DataBitsSize dataBits);

    // Closes the port; not open: logs a warning and does nothing.
    void close();

    // Waits at most `wait` for bytes, then reads what has arrived, at most into.size() bytes.
    // Returns the count; 0 when nothing arrived within the wait, when the read was interrupted, or
    // when `into` is empty. Errors: mustBeOpen, deviceNotConnected (the device node or the tty's entry
    // in /sys/class/tty is gone, the line hung up, or the device reports an I/O error), failedToRead
    // (any other system error).
    tl::expected<std::size_t, PortError> readBytes(std::span<std::uint8_t> into,
                                                   std::chrono::milliseconds wait);

    // Writes every byte, waiting for the line to drain while it is full. Returns the count written:
    // all of them, or fewer when interrupted; 0 for no bytes. Errors: mustBeOpen, deviceNotConnected,
    // failedToWrite (a system error, or no byte accepted for `stallLimit`).
    tl::expected<std::size_t, PortError> writeBytes(std::span<const std::uint8_t> from,
                                                    std::chrono::milliseconds stallLimit = kWriteStallLimit);
    // The same for the bytes of a text command such as "RESET\r\n".
    tl::expected<std::size_t, PortError> writeData(std::string_view bytes,
                                                   std::chrono::milliseconds stallLimit = kWriteStallLimit);

    // Makes the read or write in progress on the owner's thread return at once (a read with 0 bytes,
    // a write with the count so far); when none is in progress, the next one returns at once.
    // Any thread; never blocks.
    void interrupt();

    static constexpr std::chrono::milliseconds kWriteStallLimit{2000};

  private:
    enum class WaitResult { ready, timedOut, interrupted, hungUp, failed };
    WaitResult waitFor(short events, std::chrono::milliseconds wait);
    bool deviceNodeGone() const;
    void consumeInterrupt();

    std::string kindName_;
    std::optional<std::string> path_;
    UsbId ids_;
    std::uint8_t timeout_;
    common::FileDescriptor port_;
    common::FileDescriptor wake_;            // eventfd that interrupt() signals; lives as long as the object
    std::optional<std::string> sysfsEntry_;  // the tty's kernel entry while open, when it had one
};

}  // namespace brisel::device
