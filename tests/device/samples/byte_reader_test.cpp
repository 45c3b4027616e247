#include "device/samples/byte_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

namespace brisel::device {
namespace {

constexpr std::size_t kFar = std::numeric_limits<std::size_t>::max();

TEST(ByteReaderTest, BytesCombineInTheNamedOrder) {
    const std::array<std::uint8_t, 8> bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

    EXPECT_EQ(readUInt16LE(bytes, 0), 0x0201);
    EXPECT_EQ(readUInt16BE(bytes, 0), 0x0102);
    EXPECT_EQ(readUInt32LE(bytes, 4), 0x08070605U);
    EXPECT_EQ(readUInt32BE(bytes, 4), 0x05060708U);
    EXPECT_EQ(readUInt64LE(bytes, 0), 0x0807060504030201ULL);
    EXPECT_EQ(readUInt64BE(bytes, 0), 0x0102030405060708ULL);
    EXPECT_EQ(readUInt8(bytes, 7), 0x08);
}

TEST(ByteReaderTest, SignedVariantsShareTheBitsOfTheUnsignedOnes) {
    const std::array<std::uint8_t, 8> bytes{0xFF, 0xFE, 0x80, 0x00, 0x00, 0x00, 0x00, 0x80};

    EXPECT_EQ(readInt8(bytes, 0), -1);
    EXPECT_EQ(readInt16LE(bytes, 0), -257);  // 0xFEFF
    EXPECT_EQ(readInt16BE(bytes, 2), -32768);
    EXPECT_EQ(readInt64LE(bytes, 0), static_cast<std::int64_t>(0x80000000'0080FEFFULL));
    EXPECT_EQ(readInt32BE(bytes, 4), 0x80);
}

TEST(ByteReaderTest, AccessesOutsideTheBufferFailAndLeaveItUnchanged) {
    std::vector<std::uint8_t> bytes{0xAA, 0xBB, 0xCC};
    const std::size_t count = bytes.size();

    EXPECT_TRUE(readUInt8(bytes, count - 1));
    EXPECT_FALSE(readUInt16LE(bytes, count - 1));
    EXPECT_FALSE(readUInt8(bytes, count));
    EXPECT_FALSE(readUInt32LE(bytes, 0));
    EXPECT_FALSE(readUInt64BE(bytes, kFar));
    EXPECT_FALSE(readUInt16LE(bytes, kFar - 1));
    EXPECT_FALSE(writeUInt16BE(bytes, 0x1234, count - 1));
    EXPECT_FALSE(writeInt64LE(bytes, -1, kFar));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC}));

    auto failure = readInt32LE(bytes, 2);
    ASSERT_FALSE(failure);
    EXPECT_EQ(failure.error().message, "Access memory out of data.");
    EXPECT_EQ(failure.error().kind, VRCDataExtensionError::Type::outOfRangeError);
}

TEST(ByteReaderTest, EmptyBufferRefusesEveryAccess) {
    std::vector<std::uint8_t> empty;

    EXPECT_FALSE(readInt8(empty, 0));
    EXPECT_FALSE(readUInt8(empty, 0));
    EXPECT_FALSE(readUInt16BE(empty, 0));
    EXPECT_FALSE(readInt64LE(empty, 0));
    EXPECT_FALSE(writeUInt8(empty, 1, 0));
    EXPECT_FALSE(writeInt32BE(empty, 1, 0));
}

TEST(ByteReaderTest, WritersStoreWhatReadersRead) {
    std::vector<std::uint8_t> bytes(10, 0);

    ASSERT_TRUE(writeInt16LE(bytes, -2, 0));
    ASSERT_TRUE(writeUInt32BE(bytes, 0xDEADBEEF, 2));
    ASSERT_TRUE(writeInt32LE(bytes, -5, 6));

    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes[2], 0xDE);
    EXPECT_EQ(bytes[5], 0xEF);
    EXPECT_EQ(readInt16LE(bytes, 0), -2);
    EXPECT_EQ(readUInt32BE(bytes, 2), 0xDEADBEEFU);
    EXPECT_EQ(readInt32LE(bytes, 6), -5);
    EXPECT_EQ(bytes.size(), 10U);

    std::vector<std::uint8_t> wide(8, 0);
    ASSERT_TRUE(writeUInt64BE(wide, 0x0102030405060708ULL, 0));
    EXPECT_EQ(readUInt64LE(wide, 0), 0x0807060504030201ULL);
}

}  // namespace
}  // namespace brisel::device
