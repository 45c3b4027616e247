#include "common/device_kind.h"

namespace brisel::common {

namespace {

struct BootloaderIds {
    std::uint16_t vendor;
    std::uint16_t product;
};

constexpr BootloaderIds kStMicroDfu{0x0483, 0xDF11};

std::optional<BootloaderIds> bootloaderIds(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::SENSOR_TILE_BOX:
        case DeviceKind::STWINKT1:
        case DeviceKind::STWINKT1_WIFI:
        case DeviceKind::PNG_STM32L4:
        case DeviceKind::PNG_STM32WB5MMG:
            return kStMicroDfu;
        case DeviceKind::NANO_33_BLE:
        case DeviceKind::NANO_33_BLE_REV2:
            return BootloaderIds{0x2341, 0x005A};
        case DeviceKind::NANO_33_IOT:
            return BootloaderIds{0x2341, 0x0057};
        case DeviceKind::NICLA_SENSE_ME:
            return BootloaderIds{0x2341, 0x0060};
        case DeviceKind::QORVO_SAMD51:
            return BootloaderIds{0x239A, 0x0021};
        case DeviceKind::HALDEN_I3MICRO:
        case DeviceKind::HALDEN_FLAMENCO:
        case DeviceKind::HALDEN_FLAMENCO_ALT:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::optional<UsbVendorId> bootloaderVid(DeviceKind kind) {
    const std::optional<BootloaderIds> ids = bootloaderIds(kind);
    if (!ids) {
        return std::nullopt;
    }
    return UsbVendorId{ids->vendor};
}

std::optional<UsbProductId> bootloaderPid(DeviceKind kind) {
    const std::optional<BootloaderIds> ids = bootloaderIds(kind);
    if (!ids) {
        return std::nullopt;
    }
    return UsbProductId{ids->product};
}

FlasherKind flasher(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::SENSOR_TILE_BOX:
        case DeviceKind::STWINKT1:
        case DeviceKind::STWINKT1_WIFI:
        case DeviceKind::PNG_STM32L4:
        case DeviceKind::PNG_STM32WB5MMG:
            return FlasherKind::dfuUtil;
        case DeviceKind::NANO_33_BLE:
        case DeviceKind::NANO_33_BLE_REV2:
            return FlasherKind::bossac;
        case DeviceKind::NANO_33_IOT:
            return FlasherKind::bossacIoT;
        case DeviceKind::NICLA_SENSE_ME:
            return FlasherKind::openOcd;
        case DeviceKind::HALDEN_I3MICRO:
            return FlasherKind::haldenFlasher;
        case DeviceKind::HALDEN_FLAMENCO:
        case DeviceKind::HALDEN_FLAMENCO_ALT:
            return FlasherKind::bossacFlamenco;
        case DeviceKind::QORVO_SAMD51:
            return FlasherKind::bossacQorvo;
    }
    return FlasherKind::dfuUtil;
}

}  // namespace brisel::common
