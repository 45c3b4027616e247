// The supported sensor boards, their bootloader USB identifiers and the tool that flashes each.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "common/enum_raw_values.h"

namespace brisel::common {

// Raw value = case name ("NANO_33_BLE_REV2"). Case order is the order of `allCases<DeviceKind>()`.
enum class DeviceKind {
    SENSOR_TILE_BOX,
    NANO_33_BLE,
    NANO_33_BLE_REV2,
    NANO_33_IOT,
    STWINKT1,
    STWINKT1_WIFI,
    PNG_STM32L4,
    PNG_STM32WB5MMG,
    NICLA_SENSE_ME,
    HALDEN_I3MICRO,
    HALDEN_FLAMENCO,
    HALDEN_FLAMENCO_ALT,
    QORVO_SAMD51,
};

// The external tool that writes firmware to a board; the workflows map each to its flasher.
enum class FlasherKind { dfuUtil, bossac, bossacIoT, openOcd, haldenFlasher, bossacFlamenco, bossacQorvo };

// A USB vendor identifier.
struct UsbVendorId {
    std::uint16_t value = 0;
    friend bool operator==(const UsbVendorId&, const UsbVendorId&) = default;
};

// A USB product identifier.
struct UsbProductId {
    std::uint16_t value = 0;
    friend bool operator==(const UsbProductId&, const UsbProductId&) = default;
};

inline constexpr std::array<EnumRawValue<DeviceKind>, 13> kDeviceKindRawValues{{
    {DeviceKind::SENSOR_TILE_BOX, "SENSOR_TILE_BOX"},
    {DeviceKind::NANO_33_BLE, "NANO_33_BLE"},
    {DeviceKind::NANO_33_BLE_REV2, "NANO_33_BLE_REV2"},
    {DeviceKind::NANO_33_IOT, "NANO_33_IOT"},
    {DeviceKind::STWINKT1, "STWINKT1"},
    {DeviceKind::STWINKT1_WIFI, "STWINKT1_WIFI"},
    {DeviceKind::PNG_STM32L4, "PNG_STM32L4"},
    {DeviceKind::PNG_STM32WB5MMG, "PNG_STM32WB5MMG"},
    {DeviceKind::NICLA_SENSE_ME, "NICLA_SENSE_ME"},
    {DeviceKind::HALDEN_I3MICRO, "HALDEN_I3MICRO"},
    {DeviceKind::HALDEN_FLAMENCO, "HALDEN_FLAMENCO"},
    {DeviceKind::HALDEN_FLAMENCO_ALT, "HALDEN_FLAMENCO_ALT"},
    {DeviceKind::QORVO_SAMD51, "QORVO_SAMD51"},
}};

constexpr const auto& enumRawValues(std::type_identity<DeviceKind>) {
    return kDeviceKindRawValues;
}

// The vendor identifier under which the board's serial port shows in its bootloader; none for the
// three HALDEN boards.
std::optional<UsbVendorId> bootloaderVid(DeviceKind kind);

// The product identifier under which the board's serial port shows in its bootloader; none for the
// three HALDEN boards.
std::optional<UsbProductId> bootloaderPid(DeviceKind kind);

// The tool that flashes the board.
FlasherKind flasher(DeviceKind kind);

}  // namespace brisel::common
