#include "workflows/flash/flasher.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "common/logger.h"
#include "common/peer_text.h"
#include "common/time_scale.h"
#include "device/serial/usb_discovery.h"
#include "workflows/flash/bootloader_entry.h"
#include "workflows/flash/flasher_tool_run.h"

namespace brisel::workflows {
namespace {

using common::CPUType;
using common::DeviceKind;
using device::PortMode;

// `location` when it holds an executable regular file.
std::optional<std::filesystem::path> installedAt(std::string_view location) {
    std::error_code error;
    const std::filesystem::path file(location);
    if (std::filesystem::is_regular_file(file, error) && ::access(file.c_str(), X_OK) == 0) {
        return file;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> toolInFolder(std::string_view tool) {
    return installedAt(std::string(kToolFolder) + std::string(tool));
}

// Before a board is touched: the tool is there and the image holds bytes.
template <class Flasher>
tl::expected<void, FlasherError> checkReady(const std::filesystem::path& binaryPath) {
    if (!Flasher::path()) {
        return tl::unexpected(FlasherError::flashFailed(notInstalledText(Flasher::name)));
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(binaryPath, error) ||
        std::filesystem::file_size(binaryPath, error) == 0 || error) {
        return tl::unexpected(FlasherError::flashFailed(std::string(kEmptyImageText)));
    }
    return {};
}

template <class Flasher>
tl::expected<void, FlasherError> runTool(const std::vector<std::string>& args) {
    auto status = runFlasherTool(Flasher::name, Flasher::path(), args);
    if (!status) {
        return tl::unexpected(status.error());
    }
    return {};
}

// The file path of the board's normal port, for the tools that write through it.
tl::expected<std::string, FlasherError> normalPortPath(DeviceKind kind) {
    auto port = device::USBManager::findPort(kind, PortMode::application,
                                             common::scaled(device::USBManager::kFlamencoSettleWait));
    if (!port || !port->path()) {
        return tl::unexpected(FlasherError::flashFailed(std::string(kNoDevicePathText)));
    }
    return *port->path();
}

std::vector<std::string> without(std::vector<std::string> arguments, std::string_view dropped) {
    std::erase(arguments, std::string(dropped));
    return arguments;
}

std::string hexId(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

}  // namespace

std::optional<std::filesystem::path> Bossac::path() {
    return toolInFolder("bossac_ble.darwin");
}

std::vector<std::string> Bossac::arguments(const std::string& port, const std::string& image, CPUType cpu) {
    std::vector<std::string> list{"--erase",    "--port",   port,      "--reset",
                                  "--usb-port", "--verify", "--write", image};
    return cpu == CPUType::APPLE_M1 ? without(std::move(list), "--reset") : list;
}

tl::expected<void, FlasherError> Bossac::flash(const std::filesystem::path& binaryPath,
                                               DeviceKind deviceKind) {
    const auto start = FlashClock::now();
    if (auto ready = checkReady<Bossac>(binaryPath); !ready) {
        return ready;
    }
    auto port = getBootloader(deviceKind, start);
    if (!port) {
        return tl::unexpected(port.error());
    }
    if (!port->path()) {
        return tl::unexpected(FlasherError::flashFailed(std::string(kNoDevicePathText)));
    }
    return runTool<Bossac>(arguments(*port->path(), binaryPath.string(), common::currentCPU()));
}

std::optional<std::filesystem::path> BossacIoT::path() {
    return toolInFolder("bossac_iot.darwin");
}

std::vector<std::string> BossacIoT::arguments(const std::string& image, CPUType cpu) {
    std::vector<std::string> list{"--erase",  "--reset", "--force_usb_port=true",
                                  "--verify", "--write", image};
    return cpu == CPUType::APPLE_M1 ? without(std::move(list), "--reset") : list;
}

tl::expected<void, FlasherError> BossacIoT::flash(const std::filesystem::path& binaryPath,
                                                  DeviceKind deviceKind) {
    const auto start = FlashClock::now();
    if (auto ready = checkReady<BossacIoT>(binaryPath); !ready) {
        return ready;
    }
    if (auto entered = setBootloaderBySerialCommand(deviceKind, start); !entered) {
        return entered;
    }
    return runTool<BossacIoT>(arguments(binaryPath.string(), common::currentCPU()));
}

std::optional<std::filesystem::path> BossacQorvo::path() {
    return toolInFolder("bossac_qorvo.darwin");
}

std::vector<std::string> BossacQorvo::arguments(const std::string& port, const std::string& image,
                                                CPUType cpu) {
    std::vector<std::string> list{"-i", "-d", "-U",  "-i", "--port", port, "--offset=0x4000",
                                  "-w", "-v", image, "-R"};
    return cpu == CPUType::APPLE_M1 ? without(std::move(list), "-R") : list;
}

tl::expected<void, FlasherError> BossacQorvo::flash(const std::filesystem::path& binaryPath,
                                                    DeviceKind deviceKind) {
    const auto start = FlashClock::now();
    if (auto ready = checkReady<BossacQorvo>(binaryPath); !ready) {
        return ready;
    }
    if (auto entered = setBootloaderByTouch(deviceKind, start); !entered) {
        return entered;
    }
    auto port = device::USBManager::findPort(deviceKind, PortMode::bootloader);
    if (!port || !port->path()) {
        return tl::unexpected(FlasherError::flashFailed(std::string(kNoDevicePathText)));
    }
    return runTool<BossacQorvo>(arguments(*port->path(), binaryPath.string(), common::currentCPU()));
}

std::optional<std::filesystem::path> DfuUtil::path() {
    return toolInFolder("dfu-util");
}

std::string DfuUtil::filter(DeviceKind deviceKind) {
    const auto normal = device::applicationUsbId(common::rawValue(deviceKind)).value_or(device::UsbId{});
    const auto vendor = common::bootloaderVid(deviceKind).value_or(common::UsbVendorId{});
    const auto product = common::bootloaderPid(deviceKind).value_or(common::UsbProductId{});
    return hexId(normal.vendor) + ":" + hexId(normal.product) + "," + hexId(vendor.value) + ":" +
           hexId(product.value);
}

std::vector<std::string> DfuUtil::arguments(const std::string& filter, const std::string& image,
                                            CPUType cpu) {
    return {"-d", filter, "-a", "0", "-s", cpu == CPUType::APPLE_M1 ? "0x08000000" : "0x08000000:leave",
            "-D", image};
}

std::vector<std::string> DfuUtil::checkArguments(const std::string& filter) {
    return {"-d", filter, "-a", "0", "-e"};
}

tl::expected<void, FlasherError> DfuUtil::flash(const std::filesystem::path& binaryPath,
                                                DeviceKind deviceKind) {
    const auto start = FlashClock::now();
    if (auto ready = checkReady<DfuUtil>(binaryPath); !ready) {
        return ready;
    }
    const std::string deviceFilter = filter(deviceKind);
    const CPUType cpu = common::currentCPU();
    if (cpu == CPUType::APPLE_M1) {
        if (auto listed = runTool<DfuUtil>({"--list"}); !listed) {
            return listed;
        }
    } else {
        auto entered = setBootloaderAndCheck(deviceKind, start, [&deviceFilter] {
            return runTool<DfuUtil>(checkArguments(deviceFilter)).has_value();
        });
        if (!entered) {
            return entered;
        }
    }
    if (auto written = runTool<DfuUtil>(arguments(deviceFilter, binaryPath.string(), cpu)); !written) {
        return written;
    }
    return resetAfterDfu(deviceKind);
}

std::optional<std::filesystem::path> OpenOcd::path() {
    for (const auto location : kOpenOcdLocations) {
        if (auto found = installedAt(location)) {
            return found;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> OpenOcd::arguments(DeviceKind deviceKind, const std::string& image) {
    // openocd reads its commands as Tcl: in braces the path is one word whatever blanks or $, [ and ;
    // it holds. Braces cannot quote a brace, a backslash or a line break.
    if (image.find_first_of("{}\\\n") != std::string::npos) {
        return std::nullopt;
    }
    const std::string program = "program {" + image + "} verify reset exit";
    if (common::rawValue(deviceKind) == "NICLA_SENSE_ME") {
        return std::vector<std::string>{"-f", "interface/cmsis-dap.cfg",
                                        "-f", "target/nrf52.cfg",
                                        "-c", "init",
                                        "-c", "reset init",
                                        "-c", "halt",
                                        "-c", program};
    }
    return std::vector<std::string>{"-f", std::string(kToolFolder) + "vlk_device.cfg", "-c",
                                    program + " 0x8000000"};
}

tl::expected<void, FlasherError> OpenOcd::flash(const std::filesystem::path& binaryPath,
                                                DeviceKind deviceKind) {
    if (auto ready = checkReady<OpenOcd>(binaryPath); !ready) {
        return ready;
    }
    const auto args = arguments(deviceKind, binaryPath.string());
    if (!args) {
        common::logger().error("The firmware image " +
                               common::peerTextForLog(binaryPath.string(), common::PeerTextForm::quoted) +
                               " cannot be handed to openocd: its path holds a brace, a backslash or a "
                               "line break. Point TMPDIR at a folder whose path holds none of them and "
                               "flash again.");
        return tl::unexpected(FlasherError::flashFailed(failedToFlashText(kFailedToFlashSummary)));
    }
    return runTool<OpenOcd>(*args);
}

std::optional<std::filesystem::path> HaldenFlasher::path() {
    return toolInFolder("halden_i3micro_flasher");
}

std::vector<std::string> HaldenFlasher::arguments(const std::string& port, const std::string& image) {
    return {"-p", port, "-b", "921600", "-a", "-f", image};
}

tl::expected<void, FlasherError> HaldenFlasher::flash(const std::filesystem::path& binaryPath,
                                                      DeviceKind deviceKind) {
    if (auto ready = checkReady<HaldenFlasher>(binaryPath); !ready) {
        return ready;
    }
    auto port = normalPortPath(deviceKind);
    if (!port) {
        return tl::unexpected(port.error());
    }
    return runTool<HaldenFlasher>(arguments(*port, binaryPath.string()));
}

std::optional<std::filesystem::path> BossacFlamenco::path() {
    return toolInFolder("bossac_fla");
}

std::vector<std::string> BossacFlamenco::arguments(const std::string& port, const std::string& image) {
    return {"-i", "--port=" + port, "-F", "-v", image};
}

tl::expected<void, FlasherError> BossacFlamenco::flash(const std::filesystem::path& binaryPath,
                                                       DeviceKind deviceKind) {
    if (auto ready = checkReady<BossacFlamenco>(binaryPath); !ready) {
        return ready;
    }
    auto port = normalPortPath(deviceKind);
    if (!port) {
        return tl::unexpected(port.error());
    }
    return runTool<BossacFlamenco>(arguments(*port, binaryPath.string()));
}

namespace {

template <class Visit>
auto withFlasher(common::FlasherKind flasher, Visit&& visit) {
    switch (flasher) {
        case common::FlasherKind::bossac:
            return visit(Bossac{});
        case common::FlasherKind::bossacIoT:
            return visit(BossacIoT{});
        case common::FlasherKind::bossacQorvo:
            return visit(BossacQorvo{});
        case common::FlasherKind::dfuUtil:
            return visit(DfuUtil{});
        case common::FlasherKind::openOcd:
            return visit(OpenOcd{});
        case common::FlasherKind::haldenFlasher:
            return visit(HaldenFlasher{});
        case common::FlasherKind::bossacFlamenco:
            break;
    }
    return visit(BossacFlamenco{});
}

}  // namespace

std::string_view flasherName(common::FlasherKind flasher) {
    return withFlasher(flasher, [](auto type) { return std::string_view(decltype(type)::name); });
}

std::optional<std::filesystem::path> flasherPath(common::FlasherKind flasher) {
    return withFlasher(flasher, [](auto type) { return decltype(type)::path(); });
}

tl::expected<void, FlasherError> flashWith(common::FlasherKind flasher,
                                           const std::filesystem::path& binaryPath, DeviceKind deviceKind) {
    return withFlasher(flasher, [&](auto type) { return decltype(type)::flash(binaryPath, deviceKind); });
}

}  // namespace brisel::workflows
