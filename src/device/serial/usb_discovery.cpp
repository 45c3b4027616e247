#include "device/serial/usb_discovery.h"

#include <libudev.h>

#include <memory>
#include <thread>

#include "common/logger.h"

namespace brisel::device {
namespace {

using common::logger;

struct UdevRelease {
    void operator()(udev* context) const { udev_unref(context); }
};
struct UdevEnumerateRelease {
    void operator()(udev_enumerate* enumeration) const { udev_enumerate_unref(enumeration); }
};
struct UdevDeviceRelease {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevContext = std::unique_ptr<udev, UdevRelease>;
using UdevEnumeration = std::unique_ptr<udev_enumerate, UdevEnumerateRelease>;
using UdevDevice = std::unique_ptr<udev_device, UdevDeviceRelease>;

constexpr std::uint8_t kDiscoveredPortTimeout = 5;
constexpr std::string_view kFlamenco = "HALDEN_FLAMENCO";
constexpr std::string_view kFlamencoAlt = "HALDEN_FLAMENCO_ALT";

std::optional<UsbId> usbIdsOf(udev_device* tty) {
    // Not owned: a parent lives as long as its child.
    udev_device* usbDevice = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (usbDevice == nullptr) {
        return std::nullopt;
    }
    const char* vendorText = udev_device_get_sysattr_value(usbDevice, "idVendor");
    const char* productText = udev_device_get_sysattr_value(usbDevice, "idProduct");
    if (vendorText == nullptr || productText == nullptr) {
        return std::nullopt;
    }
    std::optional<std::uint16_t> vendor = parseUsbIdAttribute(vendorText);
    std::optional<std::uint16_t> product = parseUsbIdAttribute(productText);
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbId{*vendor, *product};
}

std::optional<USBDevice> firstWithIds(std::string_view kindName, UsbId wanted) {
    for (SerialDeviceEntry& entry : USBManager::listSerialDevices()) {
        if (entry.ids == wanted) {
            return USBDevice(std::string(kindName), std::move(entry.devicePath), entry.ids,
                             kDiscoveredPortTimeout);
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<SerialDeviceEntry> USBManager::listSerialDevices() {
    std::vector<SerialDeviceEntry> found;
    UdevContext context(udev_new());
    if (!context) {
        logger().error("Could not list USB serial devices: the device registry (udev) is not available");
        return found;
    }
    UdevEnumeration enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        logger().error("Could not list USB serial devices: the device registry (udev) could not be read");
        return found;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        const char* sysPath = udev_list_entry_get_name(entry);
        if (sysPath == nullptr) {
            continue;
        }
        UdevDevice tty(udev_device_new_from_syspath(context.get(), sysPath));
        if (!tty) {
            continue;  // gone since the scan
        }
        const char* node = udev_device_get_devnode(tty.get());
        std::optional<UsbId> ids = usbIdsOf(tty.get());
        if (node == nullptr || !ids) {
            continue;
        }
        found.push_back(SerialDeviceEntry{node, *ids});
    }
    return found;
}

std::vector<USBDevice> USBManager::getSerialDevices(std::string_view kindName) {
    std::vector<USBDevice> ports;
    for (SerialDeviceEntry& entry : listSerialDevices()) {
        ports.emplace_back(std::string(kindName), std::move(entry.devicePath), entry.ids,
                           kDiscoveredPortTimeout);
    }
    return ports;
}

std::optional<USBDevice> USBManager::findPort(std::string_view kindName, std::optional<UsbId> bootloaderIds,
                                              PortMode mode, std::chrono::milliseconds flamencoSettleWait) {
    std::optional<UsbId> wanted = mode == PortMode::bootloader ? bootloaderIds : applicationUsbId(kindName);
    std::optional<USBDevice> port;
    if (wanted) {
        port = firstWithIds(kindName, *wanted);
    }
    if (kindName != kFlamenco) {
        return port;
    }
    if (!port && mode == PortMode::application) {
        port = firstWithIds(kFlamencoAlt, *applicationUsbId(kFlamencoAlt));
    }
    if (port) {
        std::this_thread::sleep_for(flamencoSettleWait);
    }
    return port;
}

std::optional<USBDevice> USBManager::findPort(common::DeviceKind kind, PortMode mode,
                                              std::chrono::milliseconds flamencoSettleWait) {
    std::optional<UsbId> bootloaderIds;
    std::optional<common::UsbVendorId> vendor = common::bootloaderVid(kind);
    std::optional<common::UsbProductId> product = common::bootloaderPid(kind);
    if (vendor && product) {
        bootloaderIds = UsbId{vendor->value, product->value};
    }
    return findPort(common::rawValue(kind), bootloaderIds, mode, flamencoSettleWait);
}

std::optional<common::DeviceKind> deviceKindOf(const USBDevice& port) {
    return common::fromRawValue<common::DeviceKind>(port.kindName());
}

}  // namespace brisel::device
