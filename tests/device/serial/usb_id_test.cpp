#include "device/serial/usb_id.h"

#include <gtest/gtest.h>

namespace brisel::device {
namespace {

TEST(UsbIdTest, UnknownKindHasNoIds) {
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
