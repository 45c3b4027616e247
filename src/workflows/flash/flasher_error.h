// The error of a flash: a message for the user, or the serial port's own error met while bringing a
// board into its bootloader.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "device/samples/port_error.h"

namespace brisel::workflows {

// Where users who followed the set-up guide in vain get help.
inline constexpr std::string_view kSupportEmailAddress = "support@velko.com";

struct FlasherError {
    // The case `flashFailed(message:)`: `message` is shown to the user. With `portError` the case is the
    // serial port's error, passed on unchanged, and `message` is empty.
    std::string message;
    std::optional<device::PortError> portError;

    static FlasherError flashFailed(std::string message) { return FlasherError{std::move(message), {}}; }
    static FlasherError port(device::PortError error) { return FlasherError{{}, std::move(error)}; }

    friend bool operator==(const FlasherError&, const FlasherError&) = default;
};

// "flashFailed(message: \"Device not connected\")", or the port error's own text. Pure.
std::string describe(const FlasherError& error);

// The texts of the flash failures.
inline constexpr std::string_view kDeviceNotConnectedText = "Device not connected";
inline constexpr std::string_view kNoDevicePathText = "Could not get device path";
inline constexpr std::string_view kManualDfuModeText =
    "Must manually set the device to DFU mode for M1 Macbook";
inline constexpr std::string_view kFailedToFlashSummary = "Failed to flash.";
inline constexpr std::string_view kNoFlasherOutputText = " No data recieved from flashing.";

// "<flasher name> not installed".
std::string notInstalledText(std::string_view flasherName);
// The text of a tool that could not be started: "Please make sure the set up guide was followed ...".
std::string setUpGuideText();
// Four blanks + `summary` + " Please make sure the device is set up correctly and try again or email
// <address> for personalized support.".
std::string failedToFlashText(std::string_view summary);
// The text of an image that is missing or empty: nothing is flashed.
inline constexpr std::string_view kEmptyImageText = "The firmware image is empty or missing";

}  // namespace brisel::workflows
