// The state of a board during a data collection, as the recording loop sees it.
#pragma once

#include <array>
#include <type_traits>

#include "common/enum_raw_values.h"

namespace brisel::device {

// Raw value = case name.
enum class DeviceStatus {
    DEVICE_OK,
    DISCONNECT_DURING_INIT,
    DEVICE_DISCONNECTED,
    DEVICE_NOT_TRANSMITTING_DATA,
};

inline constexpr std::array<common::EnumRawValue<DeviceStatus>, 4> kDeviceStatusRawValues{{
    {DeviceStatus::DEVICE_OK, "DEVICE_OK"},
    {DeviceStatus::DISCONNECT_DURING_INIT, "DISCONNECT_DURING_INIT"},
    {DeviceStatus::DEVICE_DISCONNECTED, "DEVICE_DISCONNECTED"},
    {DeviceStatus::DEVICE_NOT_TRANSMITTING_DATA, "DEVICE_NOT_TRANSMITTING_DATA"},
}};

constexpr const auto& enumRawValues(std::type_identity<DeviceStatus>) {
    return kDeviceStatusRawValues;
}

}  // namespace brisel::device
