// The seven flashers: the external tool of each board family, its exact argument list, and the
// sequence that brings the board to where the tool can write it. A flasher is a type used through its
// static members, never instantiated.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tl/expected.hpp>

#include "common/device_kind.h"
#include "common/utilities.h"
#include "workflows/flash/flasher_error.h"

namespace brisel::workflows {

// Where the tools are installed.
inline constexpr std::string_view kToolFolder = "/usr/local/opt/velko/";
// Where openocd is looked for, in this order.
inline constexpr std::array<std::string_view, 3> kOpenOcdLocations{
    "/usr/local/bin/openocd", "/usr/bin/openocd", "/opt/homebrew/bin/openocd"};

// Each flasher: `name` (as in "Flashing with <name>" and "<name> not installed"); `path()`, its tool
// when installed there (an executable file), none otherwise; `arguments(...)`, the tool's argument list
// for the machine kind `cpu` (pure); `flash(binaryPath, deviceKind)`, which checks that the tool is
// installed and the image is not empty, brings the board where the tool needs it, and runs the tool,
// blocking until it has ended (see runFlasherTool for the failures).

struct Bossac {
    static constexpr std::string_view name = "Bossac";
    static std::optional<std::filesystem::path> path();
    static std::vector<std::string> arguments(const std::string& port, const std::string& image,
                                              common::CPUType cpu);
    static tl::expected<void, FlasherError> flash(const std::filesystem::path& binaryPath,
                                                  common::DeviceKind deviceKind);
};

struct BossacIoT {
    static constexpr std::string_view name = "BossacIoT";
    static std::optional<std::filesystem::path> path();
    static std::vector<std::string> arguments(const std::string& image, common::CPUType cpu);
    static tl::expected<void, FlasherError> flash(const std::filesystem::path& binaryPath,
                                                  common::DeviceKind deviceKind);
};

struct BossacQorvo {
    static constexpr std::string_view name = "BossacQorvo";
    static std::optional<std::filesystem::path> path();
    static std::vector<std::string> arguments(const std::string& port, const std::string& image,
                                              common::CPUType cpu);
    static tl::expected<void, FlasherError> flash(const std::filesystem::path& binaryPath,
                                                  common::DeviceKind deviceKind);
};

struct DfuUtil {
    static constexpr std::string_view name = "DfuUtil";
    static std::optional<std::filesystem::path> path();
    // "0x%04x:0x%04x,0x%04x:0x%04x": the board's own ids, then its bootloader ids.
    static std::string filter(common::DeviceKind deviceKind);
    static std::vector<std::string> arguments(const std::string& filter, const std::string& image,
                                              common::CPUType cpu);
    // The check for the board in DFU mode.
    static std::vector<std::string> checkArguments(const std::string& filter);
    static tl::expected<void, FlasherError> flash(const std::filesystem::path& binaryPath,
                                                  common::DeviceKind deviceKind);
};

struct OpenOcd {
    static constexpr std::string_view name = "OpenOcd";
    // The first of kOpenOcdLocations that holds an executable file.
    static std::optional<std::filesystem::path> path();
    // The image goes into the "program" command in Tcl braces; none when its path holds a brace, a
    // backslash or a line break, which braces cannot quote (flash then fails with "Failed to flash.").
    static std::optional<std::vector<std::string>> arguments(common::DeviceKind deviceKind,
                                                             const std::string& image);
    static tl::expected<void, FlasherError> flash(const std::filesystem::path& binaryPath,
                                                  common::DeviceKind deviceKind);
};

struct HaldenFlasher {
    static constexpr std::string_view name = "HaldenFlasher";
    static std::optional<std::filesystem::path> path();
    static std::vector<std::string> arguments(const std::string& port, const std::string& image);
    static tl::expected<void, FlasherError> flash(const std::filesystem::path& binaryPath,
                                                  common::DeviceKind deviceKind);
};

struct BossacFlamenco {
    static constexpr std::string_view name = "BossacFlamenco";
    static std::optional<std::filesystem::path> path();
    static std::vector<std::string> arguments(const std::string& port, const std::string& image);
    static tl::expected<void, FlasherError> flash(const std::filesystem::path& binaryPath,
                                                  common::DeviceKind deviceKind);
};

// The name, the tool and the flash of the flasher of a kind (common::flasher(kind)).
std::string_view flasherName(common::FlasherKind flasher);
std::optional<std::filesystem::path> flasherPath(common::FlasherKind flasher);
tl::expected<void, FlasherError> flashWith(common::FlasherKind flasher,
                                           const std::filesystem::path& binaryPath,
                                           common::DeviceKind deviceKind);

}  // namespace brisel::workflows
