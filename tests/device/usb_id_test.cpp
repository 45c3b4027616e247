#include "device/usb_id.h"

#include <gtest/gtest.h>

namespace brisel::device {
namespace {

TEST(UsbIdTest, ApplicationIdsByKind) {
    EXPECT_EQ(applicationUsbId("STWINKT1_WIFI"), (UsbId{0x0483, 0x5740}));
    EXPECT_EQ(applicationUsbId("NANO_33_BLE_REV2"), (UsbId{0x2341, 0x805A}));
    EXPECT_EQ(applicationUsbId("PNG_STM32WB5MMG"), (UsbId{0x1209, 0x6673}));
    EXPECT_EQ(applicationUsbId("HALDEN_FLAMENCO_ALT"), (UsbId{0x04B4, 0x0003}));
    EXPECT_EQ(applicationUsbId("QORVO_SAMD51"), (UsbId{0x239A, 0x8020}));
    EXPECT_EQ(applicationUsbId("nano_33_ble"), std::nullopt);
    EXPECT_EQ(applicationUsbId(""), std::nullopt);
    EXPECT_EQ(toString(UsbId{0x2341, 0x805A}), "0x2341:0x805A");
}

TEST(UsbIdTest, SysfsAttributeParsing) {
    struct Row {
        const char* label;
        const char* text;
        std::optional<std::uint16_t> expected;
    };
    const Row rows[] = {
        {"lower case", "805a", 0x805A},
        {"upper case", "805A", 0x805A},
        {"newline", "2341\n", 0x2341},
        {"short", "3", 0x0003},
        {"largest", "ffff", 0xFFFF},
        {"empty", "", std::nullopt},
        {"blank only", " \n", std::nullopt},
        {"five digits", "12345", std::nullopt},
        {"prefix", "0x12", std::nullopt},
        {"sign", "-1", std::nullopt},
        {"leading blank", " 12", std::nullopt},
        {"not hex", "12g4", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parseUsbIdAttribute(row.text), row.expected) << row.label;
    }
}

}  // namespace
}  // namespace brisel::device
