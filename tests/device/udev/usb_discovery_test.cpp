// USB discovery against an in-process umockdev testbed. The program runs with the umockdev preload
// library, so libudev and open() of /dev/ttyACM0 reach the testbed and its pseudo-terminal.
#include "device/serial/usb_discovery.h"

#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "common/device_kind.h"
#include "udev_testbed.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;

using UsbDiscoveryTest = test_support::UdevTestbedTest;
using test_support::ttySysPath;
using test_support::usbSerialBoard;

TEST_F(UsbDiscoveryTest, NoBoardGivesNothingAtOnce) {
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(USBManager::findPort("NANO_33_BLE", UsbId{0x2341, 0x005A}, PortMode::application));
    EXPECT_FALSE(USBManager::findPort("HALDEN_FLAMENCO", std::nullopt, PortMode::application, 30s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    EXPECT_TRUE(USBManager::getSerialDevices("NANO_33_BLE").empty());
}

TEST_F(UsbDiscoveryTest, BoardIsFoundByItsApplicationIds) {
    add(usbSerialBoard("1-1", "2341", "805a", "ttyACM0"));

    std::optional<USBDevice> port =
        USBManager::findPort("NANO_33_BLE", UsbId{0x2341, 0x005A}, PortMode::application);

    ASSERT_TRUE(port);
    EXPECT_EQ(port->path(), "/dev/ttyACM0");
    EXPECT_EQ(port->kindName(), "NANO_33_BLE");
    EXPECT_EQ(port->ids(), (UsbId{0x2341, 0x805A}));
    EXPECT_EQ(port->timeout(), 5);
    EXPECT_FALSE(port->deviceOpen());
    EXPECT_FALSE(USBManager::findPort("NANO_33_IOT", UsbId{0x2341, 0x0057}, PortMode::application));
}

TEST_F(UsbDiscoveryTest, BootloaderSearchUsesTheGivenIdsOnly) {
    add(usbSerialBoard("1-1", "2341", "005a", "ttyACM0"));

    EXPECT_TRUE(USBManager::findPort("NANO_33_BLE", UsbId{0x2341, 0x005A}, PortMode::bootloader));
    EXPECT_FALSE(USBManager::findPort("NANO_33_BLE", UsbId{0x2341, 0x005A}, PortMode::application));
    EXPECT_FALSE(USBManager::findPort("HALDEN_I3MICRO", std::nullopt, PortMode::bootloader));
}

TEST_F(UsbDiscoveryTest, SameIdsInBothModesFindTheSamePort) {
    add(usbSerialBoard("1-1", "2341", "0060", "ttyACM0"));

    auto application = USBManager::findPort("NICLA_SENSE_ME", UsbId{0x2341, 0x0060}, PortMode::application);
    auto bootloader = USBManager::findPort("NICLA_SENSE_ME", UsbId{0x2341, 0x0060}, PortMode::bootloader);

    ASSERT_TRUE(application && bootloader);
    EXPECT_EQ(application->path(), bootloader->path());
}

TEST_F(UsbDiscoveryTest, TwoBoardsWithTheSameIdsKeepTheirOwnNodes) {
    add(usbSerialBoard("1-1", "0483", "5740", "ttyACM0"));
    add(usbSerialBoard("1-2", "0483", "5740", "ttyACM1"));

    std::vector<USBDevice> ports = USBManager::getSerialDevices("STWINKT1");

    ASSERT_EQ(ports.size(), 2U);
    EXPECT_NE(ports[0].path(), ports[1].path());
    auto found = USBManager::findPort("STWINKT1", UsbId{0x0483, 0xDF11}, PortMode::application);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path(), ports[0].path());
}

TEST_F(UsbDiscoveryTest, TtysWithoutUsableUsbIdsAreSkipped) {
    add("P: /devices/virtual/tty/ttyS0\nN: ttyS0\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS0\n");
    add(usbSerialBoard("1-1", "23410", "805a", "ttyACM0"));
    add(usbSerialBoard("1-2", "zz41", "805a", "ttyACM1"));

    EXPECT_TRUE(USBManager::getSerialDevices("NANO_33_BLE").empty());
}

TEST_F(UsbDiscoveryTest, FlamencoFallsBackToTheAltBoardAfterItsSettleWait) {
    add(usbSerialBoard("1-1", "04b4", "0003", "ttyUSB0"));
    auto started = std::chrono::steady_clock::now();

    auto port = USBManager::findPort("HALDEN_FLAMENCO", std::nullopt, PortMode::application, 200ms);

    ASSERT_TRUE(port);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 200ms);
    EXPECT_EQ(port->kindName(), "HALDEN_FLAMENCO_ALT");
    EXPECT_EQ(port->path(), "/dev/ttyUSB0");
    EXPECT_FALSE(USBManager::findPort("HALDEN_FLAMENCO", std::nullopt, PortMode::bootloader, 0ms));
}

TEST_F(UsbDiscoveryTest, FoundPortOpensOnTheBoardsTerminal) {
    add(usbSerialBoard("1-1", "239a", "8020", "ttyACM0"));
    auto port = USBManager::findPort("QORVO_SAMD51", UsbId{0x239A, 0x0021}, PortMode::application);
    ASSERT_TRUE(port);

    ASSERT_TRUE(port->open(BaudRate::baud1200, StopBits::stopBits1, ParityType::none, DataBitsSize::bits8));
    ASSERT_EQ(port->writeData("RESET\r\n"), 7U);

    int board = umockdev_testbed_get_dev_fd(testbed_.get(), "/dev/ttyACM0");
    ASSERT_GE(board, 0);
    termios settings{};
    ASSERT_EQ(tcgetattr(board, &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B1200));
    std::string received(7, '\0');
    ASSERT_EQ(read(board, received.data(), received.size()), 7);
    EXPECT_EQ(received, "RESET\r\n");
}

TEST_F(UsbDiscoveryTest, UnpluggedBoardIsNoLongerFound) {
    add(usbSerialBoard("1-1", "2341", "8057", "ttyACM0"));
    ASSERT_TRUE(USBManager::findPort("NANO_33_IOT", UsbId{0x2341, 0x0057}, PortMode::application));

    umockdev_testbed_remove_device(testbed_.get(), ttySysPath("1-1", "ttyACM0").c_str());

    EXPECT_FALSE(USBManager::findPort("NANO_33_IOT", UsbId{0x2341, 0x0057}, PortMode::application));
}

// The ids a board of `kind` shows in `mode`; none when it has no such ids.
std::optional<UsbId> idsOf(common::DeviceKind kind, PortMode mode) {
    if (mode == PortMode::application) {
        return applicationUsbId(common::rawValue(kind));
    }
    auto vendor = common::bootloaderVid(kind);
    auto product = common::bootloaderPid(kind);
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbId{vendor->value, product->value};
}

TEST_F(UsbDiscoveryTest, EveryKindIsFoundByItsKindInBothModes) {
    int plugged = 0;
    for (PortMode mode : {PortMode::application, PortMode::bootloader}) {
        for (common::DeviceKind kind : common::allCases<common::DeviceKind>()) {
            SCOPED_TRACE(std::string(common::rawValue(kind)) +
                         (mode == PortMode::application ? " application" : " bootloader"));
            // One board at a time, each on a port of its own.
            const std::string usbName = "1-" + std::to_string(++plugged);
            const std::string ttyName = "ttyUSB" + std::to_string(plugged);
            std::optional<UsbId> ids = idsOf(kind, mode);
            if (!ids) {
                // The HALDEN boards have no bootloader ids: even a board with their application ids
                // is not taken for one in bootloader mode.
                plug(usbName, *idsOf(kind, PortMode::application), ttyName);
                EXPECT_FALSE(USBManager::findPort(kind, mode, 0ms));
                unplug(usbName, ttyName);
                continue;
            }
            plug(usbName, *ids, ttyName);

            std::optional<USBDevice> port = USBManager::findPort(kind, mode, 0ms);

            ASSERT_TRUE(port);
            EXPECT_EQ(port->path(), "/dev/" + ttyName);
            EXPECT_EQ(port->ids(), *ids);
            EXPECT_EQ(deviceKindOf(*port), kind);
            unplug(usbName, ttyName);
        }
    }
}

TEST_F(UsbDiscoveryTest, FlamencoKindTakesTheAltBoardAsAltKind) {
    plug("1-1", UsbId{0x04B4, 0x0003}, "ttyUSB0");

    auto port = USBManager::findPort(common::DeviceKind::HALDEN_FLAMENCO, PortMode::application, 0ms);

    ASSERT_TRUE(port);
    EXPECT_EQ(deviceKindOf(*port), common::DeviceKind::HALDEN_FLAMENCO_ALT);
}

}  // namespace
}  // namespace brisel::device
