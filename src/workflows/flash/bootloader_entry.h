// Bringing a board into its bootloader or USB DFU mode over its serial port before a tool writes it,
// and the serial reset after a DFU flash. Every sequence runs on the caller's thread and blocks it;
// its pauses and limits are scaled (common::scaled), the short holds of a touch and the 0.5 s before the
// reset command are not (the boards need them), and no board read waits past the limit.
#pragma once

#include <chrono>
#include <functional>

#include <tl/expected.hpp>

#include "common/device_kind.h"
#include "device/serial/serial_port.h"
#include "workflows/flash/flasher_error.h"

namespace brisel::workflows {

using FlashClock = std::chrono::steady_clock;

// The limits and pauses of the sequences, at full length.
inline constexpr std::chrono::milliseconds kBootloaderLimit{30000};
inline constexpr std::chrono::milliseconds kIoTBootloaderLimit{60000};
inline constexpr std::chrono::milliseconds kEntryPause{3000};

// "\r\nBOOTLOADER\r\n" at 115200 baud on the normal port, the answer drained, until the bootloader port
// shows (limit 30 s since `start`; 3 s before each close and 3 s between passes). A board already in its
// bootloader gets no bytes. Returns the bootloader port (unopened). Errors: "Device not connected", or
// the port's error when the normal port cannot be opened or written.
tl::expected<device::USBDevice, FlasherError> getBootloader(common::DeviceKind kind,
                                                            FlashClock::time_point start);

// The same command for NANO_33_IOT: limit 60 s, the port closed right after the draining, 3 s between
// passes; the tool finds the bootloader itself, so no port is returned.
tl::expected<void, FlasherError> setBootloaderBySerialCommand(common::DeviceKind kind,
                                                              FlashClock::time_point start);

// QORVO_SAMD51: a 1200-baud touch (open, 0.02 s, close) of the normal port until the bootloader port
// shows (limit 30 s, 3 s between passes). Errors: "Device not connected", or the port's open error.
tl::expected<void, FlasherError> setBootloaderByTouch(common::DeviceKind kind, FlashClock::time_point start);

// The DFU boards on a machine that is not translated: `dfuDeviceFound` (a tool run) until it answers
// true, touching the normal port between checks (STWINKT1 1200 then 150 baud, SENSOR_TILE_BOX 1200 then
// 110 baud, PNG_STM32L4 1200 baud, STWINKT1_WIFI no touch); PNG_STM32WB5MMG and a translated machine
// skip it all. Limit 30 s since `start`, 3 s between passes. Errors: "Device not connected".
tl::expected<void, FlasherError> setBootloaderAndCheck(common::DeviceKind kind, FlashClock::time_point start,
                                                       const std::function<bool()>& dfuDeviceFound);

// After a DFU flash: "RESET\r\n" at 115200 baud, 0.5 s after the open, on the normal port once it
// shows (limit 30 s since the call, 3 s between passes). Nothing for STWINKT1_WIFI, PNG_STM32WB5MMG or on
// a translated machine. Errors: "Device not connected".
tl::expected<void, FlasherError> resetAfterDfu(common::DeviceKind kind);

}  // namespace brisel::workflows
