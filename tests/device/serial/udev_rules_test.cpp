// The shipped udev rule file covers every board the service finds, in both modes.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "common/device_kind.h"
#include "device/serial/usb_id.h"

namespace brisel::device {
namespace {

// Every "ATTRS{idVendor}=="xxxx", ATTRS{idProduct}=="yyyy"" pair of the file, as "0xXXXX:0xYYYY".
std::set<std::string> idsInRules(const std::string& path) {
    std::set<std::string> ids;
    std::ifstream in(path);
    const std::string vendorKey = "ATTRS{idVendor}==\"";
    const std::string productKey = "ATTRS{idProduct}==\"";
    for (std::string line; std::getline(in, line);) {
        const auto vendorAt = line.find(vendorKey);
        const auto productAt = line.find(productKey);
        if (line.starts_with("#") || vendorAt == std::string::npos || productAt == std::string::npos) {
            continue;
        }
        auto vendor = parseUsbIdAttribute(line.substr(vendorAt + vendorKey.size(), 4));
        auto product = parseUsbIdAttribute(line.substr(productAt + productKey.size(), 4));
        if (vendor && product && line.find("TAG+=\"uaccess\"") != std::string::npos &&
            line.find("ENV{ID_MM_DEVICE_IGNORE}=\"1\"") != std::string::npos) {
            ids.insert(toString(UsbId{*vendor, *product}));
        }
    }
    return ids;
}

TEST(UdevRulesTest, EveryBoardIsOpenToTheSessionAndHiddenFromModemManager) {
    const std::set<std::string> ids = idsInRules(BRISEL_SOURCE_DIR "/packaging/60-brisel-boards.rules");
    for (common::DeviceKind kind : common::allCases<common::DeviceKind>()) {
        SCOPED_TRACE(std::string(common::rawValue(kind)));
        std::optional<UsbId> application = applicationUsbId(common::rawValue(kind));
        ASSERT_TRUE(application);
        EXPECT_TRUE(ids.contains(toString(*application))) << toString(*application);
        auto vendor = common::bootloaderVid(kind);
        auto product = common::bootloaderPid(kind);
        if (vendor && product) {
            const std::string bootloader = toString(UsbId{vendor->value, product->value});
            EXPECT_TRUE(ids.contains(bootloader)) << bootloader;
        }
    }
}

}  // namespace
}  // namespace brisel::device
