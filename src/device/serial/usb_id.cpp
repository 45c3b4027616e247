#include "device/serial/usb_id.h"

#include <array>
#include <cstdio>
#include <utility>

namespace brisel::device {
namespace {

struct KindIds {
    std::string_view kindName;
    UsbId ids;
};

constexpr std::array kApplicationIds{
    KindIds{"SENSOR_TILE_BOX", {0x0483, 0x5740}},  KindIds{"STWINKT1", {0x0483, 0x5740}},
    KindIds{"STWINKT1_WIFI", {0x0483, 0x5740}},    KindIds{"NANO_33_BLE", {0x2341, 0x805A}},
    KindIds{"NANO_33_BLE_REV2", {0x2341, 0x805A}}, KindIds{"NANO_33_IOT", {0x2341, 0x8057}},
    KindIds{"PNG_STM32L4", {0x1209, 0x6669}},      KindIds{"PNG_STM32WB5MMG", {0x1209, 0x6673}},
    KindIds{"NICLA_SENSE_ME", {0x2341, 0x0060}},   KindIds{"HALDEN_I3MICRO", {0x10C4, 0xEA60}},
    KindIds{"HALDEN_FLAMENCO", {0x0403, 0x6001}},  KindIds{"HALDEN_FLAMENCO_ALT", {0x04B4, 0x0003}},
    KindIds{"QORVO_SAMD51", {0x239A, 0x8020}},
};

std::optional<unsigned> hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    return std::nullopt;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::string toString(UsbId id) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0x%04X:0x%04X", static_cast<unsigned>(id.vendor),
                  static_cast<unsigned>(id.product));
    return text.data();
}

std::optional<UsbId> applicationUsbId(std::string_view kindName) {
    for (const KindIds& entry : kApplicationIds) {
        if (entry.kindName == kindName) {
            return entry.ids;
        }
    }
    return std::nullopt;
}

std::optional<std::uint16_t> parseUsbIdAttribute(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : text) {
        std::optional<unsigned> digit = hexDigitValue(c);
        if (!digit) {
            return std::nullopt;
        }
        value = value * 16 + *digit;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace brisel::device
