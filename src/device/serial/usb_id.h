// USB vendor and product identifiers of boards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brisel::device {

struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;

    friend bool operator==(const UsbId&, const UsbId&) = default;
};

// "0x2341:0x805A".
std::string toString(UsbId id);

// The ids a board shows in application mode, by its kind name ("NANO_33_BLE", ...);
// no value for a name that is not a board kind.
std::optional<UsbId> applicationUsbId(std::string_view kindName);

// Parses a sysfs id attribute: one to four hex digits, optionally followed by whitespace.
// Anything else (empty, signs, "0x", more digits, other characters) gives no value.
std::optional<std::uint16_t> parseUsbIdAttribute(std::string_view text);

}  // namespace brisel::device
