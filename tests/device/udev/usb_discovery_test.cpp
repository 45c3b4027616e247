// USB discovery against an in-process umockdev testbed. The program runs with the umockdev preload
// library, so libudev and open() of /dev/ttyACM0 reach the testbed and its pseudo-terminal.
#include "device/usb_discovery.h"

#include <termios.h>
#include <unistd.h>

#include <glib.h>
#include <gtest/gtest.h>
#include <umockdev.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#if defined(__SANITIZE_THREAD__)
// glib is built without ThreadSanitizer and hands data to umockdev's worker thread through futexes
// that the sanitizer cannot see; its reports inside glib are not about this program.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libglib-2.0.so\n";
}
#endif

namespace brisel::device {
namespace {

using namespace std::chrono_literals;

struct TestbedRelease {
    void operator()(UMockdevTestbed* testbed) const { g_object_unref(testbed); }
};

// A usb_device with the given hex ids, its interface and a tty child named `ttyName`.
std::string usbSerialBoard(const std::string& usbName, const std::string& vendor, const std::string& product,
                           const std::string& ttyName) {
    const std::string usb = "/devices/pci0000:00/usb1/" + usbName;
    const std::string interface = usb + "/" + usbName + ":1.0";
    return "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=" + vendor +
           "\nA: idProduct=" + product + "\n\nP: " + interface +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\nP: " + interface + "/tty/" + ttyName +
           "\nN: " + ttyName + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + ttyName + "\n";
}

std::string ttySysPath(const std::string& usbName, const std::string& ttyName) {
    return "/sys/devices/pci0000:00/usb1/" + usbName + "/" + usbName + ":1.0/tty/" + ttyName;
}

class UsbDiscoveryTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* preload = std::getenv("LD_PRELOAD");
        ASSERT_TRUE(preload != nullptr &&
                    std::string_view(preload).find("umockdev-preload") != std::string_view::npos)
            << "run this program through umockdev-wrapper (or with LD_PRELOAD=libumockdev-preload.so.0)";
        testbed_.reset(umockdev_testbed_new());
        ASSERT_NE(testbed_, nullptr);
    }

    void add(const std::string& description) {
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_.get(), description.c_str(), &error))
            << (error != nullptr ? error->message : "unknown error");
    }

    std::unique_ptr<UMockdevTestbed, TestbedRelease> testbed_;
};

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

}  // namespace
}  // namespace brisel::device
