#include "workflows/flash/bootloader_entry.h"

#include <thread>
#include <vector>

#include "common/time_scale.h"
#include "common/utilities.h"
#include "device/samples/sample.h"
#include "device/serial/usb_discovery.h"

namespace brisel::workflows {
namespace {

using common::DeviceKind;
using device::PortMode;
using device::USBDevice;
using namespace std::chrono_literals;

constexpr std::string_view kBootloaderCommand = "\r\nBOOTLOADER\r\n";
constexpr std::string_view kResetCommand = "RESET\r\n";

tl::unexpected<FlasherError> deviceNotConnected() {
    return tl::unexpected(FlasherError::flashFailed(std::string(kDeviceNotConnectedText)));
}

void pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(common::scaled(duration));
}

// How long a port stays open during a touch, or before the reset command: timing the board's firmware
// needs, so it is never scaled.
void holdLine(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

// How long is left of the scaled `limit` since `start`; zero or less once it has passed.
std::chrono::milliseconds timeLeft(FlashClock::time_point start, std::chrono::milliseconds limit) {
    return common::scaled(limit) -
           std::chrono::duration_cast<std::chrono::milliseconds>(FlashClock::now() - start);
}

bool limitPassed(FlashClock::time_point start, std::chrono::milliseconds limit) {
    return FlashClock::now() - start > common::scaled(limit);
}

tl::expected<void, device::PortError> openAt(USBDevice& port, device::BaudRate baudRate) {
    return port.open(baudRate, device::StopBits::stopBits1, device::ParityType::none,
                     device::DataBitsSize::bits8);
}

std::optional<USBDevice> findPort(DeviceKind kind, PortMode mode) {
    return device::USBManager::findPort(kind, mode, common::scaled(device::USBManager::kFlamencoSettleWait));
}

// Sends the bootloader command and reads the board's answer until the board leaves its port (a read
// fails). Fails with "Device not connected" once the limit passes, the port then closed.
tl::expected<void, FlasherError> sendBootloaderCommand(USBDevice& port, FlashClock::time_point start,
                                                       std::chrono::milliseconds limit) {
    if (auto opened = openAt(port, device::BaudRate::baud115200); !opened) {
        return tl::unexpected(FlasherError::port(opened.error()));
    }
    if (auto written = port.writeData(kBootloaderCommand); !written) {
        port.close();
        return tl::unexpected(FlasherError::port(written.error()));
    }
    std::vector<std::uint8_t> buffer(device::Sample::maxSampleBytes());
    for (;;) {
        const auto left = timeLeft(start, limit);
        if (left <= 0ms) {
            port.close();
            return deviceNotConnected();
        }
        if (!port.readBytes(buffer, left)) {
            return {};  // the board left its port: the usual end
        }
    }
}

struct SerialCommandEntry {
    std::chrono::milliseconds limit;
    std::chrono::milliseconds settleBeforeClose;
};

tl::expected<void, FlasherError> enterBySerialCommand(DeviceKind kind, FlashClock::time_point start,
                                                      SerialCommandEntry entry) {
    for (;;) {
        if (auto normal = findPort(kind, PortMode::application)) {
            if (auto sent = sendBootloaderCommand(*normal, start, entry.limit); !sent) {
                return sent;
            }
            if (entry.settleBeforeClose > 0ms) {
                pause(entry.settleBeforeClose);
            }
            if (normal->deviceOpen()) {
                normal->close();
            }
        }
        if (limitPassed(start, entry.limit)) {
            return deviceNotConnected();
        }
        pause(kEntryPause);
        if (findPort(kind, PortMode::bootloader)) {
            return {};
        }
    }
}

// Opens the port at `baudRate`, holds it `hold` and closes it. False when it cannot be opened.
bool touch(USBDevice& port, device::BaudRate baudRate, std::chrono::milliseconds hold) {
    if (!openAt(port, baudRate)) {
        return false;
    }
    holdLine(hold);
    port.close();
    return true;
}

void touchForDfu(DeviceKind kind, USBDevice& port) {
    switch (kind) {
        case DeviceKind::STWINKT1:
            touch(port, device::BaudRate::baud1200, 20ms) && touch(port, device::BaudRate::baud150, 80ms);
            return;
        case DeviceKind::SENSOR_TILE_BOX:
            touch(port, device::BaudRate::baud1200, 20ms) && touch(port, device::BaudRate::baud110, 80ms);
            return;
        default:
            touch(port, device::BaudRate::baud1200, 100ms);
            return;
    }
}

}  // namespace

tl::expected<USBDevice, FlasherError> getBootloader(DeviceKind kind, FlashClock::time_point start) {
    if (auto bootloader = findPort(kind, PortMode::bootloader)) {
        return std::move(*bootloader);
    }
    if (auto entered = enterBySerialCommand(kind, start, {kBootloaderLimit, kEntryPause}); !entered) {
        return tl::unexpected(entered.error());
    }
    if (auto bootloader = findPort(kind, PortMode::bootloader)) {
        return std::move(*bootloader);
    }
    return tl::unexpected(FlasherError::flashFailed(std::string(kNoDevicePathText)));
}

tl::expected<void, FlasherError> setBootloaderBySerialCommand(DeviceKind kind, FlashClock::time_point start) {
    if (findPort(kind, PortMode::bootloader)) {
        return {};
    }
    return enterBySerialCommand(kind, start, {kIoTBootloaderLimit, 0ms});
}

tl::expected<void, FlasherError> setBootloaderByTouch(DeviceKind kind, FlashClock::time_point start) {
    if (findPort(kind, PortMode::bootloader)) {
        return {};
    }
    for (;;) {
        if (auto normal = findPort(kind, PortMode::application)) {
            if (auto opened = openAt(*normal, device::BaudRate::baud1200); !opened) {
                return tl::unexpected(FlasherError::port(opened.error()));
            }
            holdLine(20ms);
            normal->close();
        }
        if (limitPassed(start, kBootloaderLimit)) {
            return deviceNotConnected();
        }
        pause(kEntryPause);
        if (findPort(kind, PortMode::bootloader)) {
            return {};
        }
    }
}

tl::expected<void, FlasherError> setBootloaderAndCheck(DeviceKind kind, FlashClock::time_point start,
                                                       const std::function<bool()>& dfuDeviceFound) {
    if (kind == DeviceKind::PNG_STM32WB5MMG || common::isM1()) {
        return {};
    }
    for (;;) {
        if (dfuDeviceFound()) {
            return {};
        }
        if (kind != DeviceKind::STWINKT1_WIFI) {
            if (auto normal = findPort(kind, PortMode::application)) {
                touchForDfu(kind, *normal);
            }
        }
        if (limitPassed(start, kBootloaderLimit)) {
            return deviceNotConnected();
        }
        pause(kEntryPause);
    }
}

tl::expected<void, FlasherError> resetAfterDfu(DeviceKind kind) {
    if (kind == DeviceKind::STWINKT1_WIFI || kind == DeviceKind::PNG_STM32WB5MMG || common::isM1()) {
        return {};
    }
    const auto start = FlashClock::now();
    for (;;) {
        if (auto normal = findPort(kind, PortMode::application)) {
            if (openAt(*normal, device::BaudRate::baud115200)) {
                holdLine(500ms);
                const bool written = normal->writeData(kResetCommand).has_value();
                normal->close();
                if (written) {
                    return {};
                }
            }
        }
        if (limitPassed(start, kBootloaderLimit)) {
            return deviceNotConnected();
        }
        pause(kEntryPause);
    }
}

}  // namespace brisel::workflows
