// Finding the serial port of an attached board by its USB vendor and product ids (libudev).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/device_kind.h"
#include "device/serial/serial_port.h"
#include "device/serial/usb_id.h"

namespace brisel::device {

// Which ids a search uses: the board's own (application) ids or its bootloader ids.
enum class PortMode { application, bootloader };

// One tty device whose USB device carries vendor and product ids.
struct SerialDeviceEntry {
    std::string devicePath;  // the device node, e.g. "/dev/ttyACM0"
    UsbId ids;
};

// Stateless; every call enumerates the system's devices afresh. Any thread.
class USBManager {
  public:
    // The HALDEN_FLAMENCO port needs this long to settle after it is found.
    static constexpr std::chrono::milliseconds kFlamencoSettleWait{4000};

    // The unopened port of the first board (in enumeration order) whose ids equal the ids of `kindName`
    // in `mode`: the application ids of applicationUsbId(kindName), or `bootloaderIds` (no value: the
    // kind has no bootloader ids and nothing matches). For "HALDEN_FLAMENCO" in application mode a
    // board with the HALDEN_FLAMENCO_ALT ids is taken when none with its own ids is attached (its port
    // then carries the kind "HALDEN_FLAMENCO_ALT"), and a found port is returned only after blocking
    // the calling thread for `flamencoSettleWait`. No board: no value, at once.
    static std::optional<USBDevice> findPort(
        std::string_view kindName, std::optional<UsbId> bootloaderIds, PortMode mode,
        std::chrono::milliseconds flamencoSettleWait = kFlamencoSettleWait);

    // Unopened ports, labelled `kindName`, of every tty device with a USB device parent that carries
    // both ids, in enumeration order; each keeps its own device node. Errors of the device registry
    // are logged and give an empty list.
    static std::vector<USBDevice> getSerialDevices(std::string_view kindName);

    // The tty devices behind getSerialDevices.
    static std::vector<SerialDeviceEntry> listSerialDevices();

    // findPort for a board kind: its name and, in bootloader mode, its bootloaderVid/bootloaderPid.
    static std::optional<USBDevice> findPort(
        common::DeviceKind kind, PortMode mode,
        std::chrono::milliseconds flamencoSettleWait = kFlamencoSettleWait);
};

// The board kind of a port (from its kind name); none for a name that is no kind.
std::optional<common::DeviceKind> deviceKindOf(const USBDevice& port);

}  // namespace brisel::device
