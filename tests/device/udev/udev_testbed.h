// A umockdev testbed in which a test plugs fake USB serial boards. The program runs with the umockdev
// preload library, so libudev and open() of a board's /dev node reach the testbed, whose node is a
// pseudo-terminal: the test holds the board's end and plays the board.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "device/serial/usb_id.h"

namespace brisel::test_support {

struct TestbedRelease {
    void operator()(UMockdevTestbed* testbed) const { g_object_unref(testbed); }
};

// "2341" for 0x2341.
inline std::string hexId(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(id));
    return text;
}

// A usb_device with the given hex ids, its interface and a tty child named `ttyName`.
inline std::string usbSerialBoard(const std::string& usbName, const std::string& vendor,
                                  const std::string& product, const std::string& ttyName) {
    const std::string usb = "/devices/pci0000:00/usb1/" + usbName;
    const std::string interface = usb + "/" + usbName + ":1.0";
    return "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=" + vendor +
           "\nA: idProduct=" + product + "\n\nP: " + interface +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\nP: " + interface + "/tty/" + ttyName +
           "\nN: " + ttyName + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + ttyName + "\n";
}

inline std::string ttySysPath(const std::string& usbName, const std::string& ttyName) {
    return "/sys/devices/pci0000:00/usb1/" + usbName + "/" + usbName + ":1.0/tty/" + ttyName;
}

class UdevTestbedTest : public testing::Test {
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

    // Plugs a board with `ids` whose tty is /dev/<ttyName>.
    void plug(const std::string& usbName, device::UsbId ids, const std::string& ttyName) {
        add(usbSerialBoard(usbName, hexId(ids.vendor), hexId(ids.product), ttyName));
    }

    void unplug(const std::string& usbName, const std::string& ttyName) {
        umockdev_testbed_remove_device(testbed_.get(), ttySysPath(usbName, ttyName).c_str());
    }

    // The board's end of /dev/<ttyName>'s pseudo-terminal; owned by the testbed.
    int boardEnd(const std::string& ttyName) {
        return umockdev_testbed_get_dev_fd(testbed_.get(), ("/dev/" + ttyName).c_str());
    }

    std::unique_ptr<UMockdevTestbed, TestbedRelease> testbed_;
};

}  // namespace brisel::test_support
