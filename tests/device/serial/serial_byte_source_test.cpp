// The sample reader on a USB serial port: a pseudo-terminal whose master end plays the board.
#include "device/serial/serial_byte_source.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "common/file_descriptor.h"
#include "device/samples/sample_packet_builder.h"
#include "device/samples/sample_reader.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/log_capture.h"
#include "support/temporary_folder.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test_support::eventually;
using test_support::readBytes;

class BoardEnd {
  public:
    BoardEnd() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        std::array<char, 128> name{};
        if (master_.valid() && grantpt(master_.get()) == 0 && unlockpt(master_.get()) == 0 &&
            ptsname_r(master_.get(), name.data(), name.size()) == 0) {
            path_ = name.data();
        }
    }
    const std::string& path() const { return path_; }
    void send(std::span<const std::uint8_t> bytes) {
        ASSERT_EQ(write(master_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void hangUp() { master_.reset(); }

  private:
    common::FileDescriptor master_;
    std::string path_;
};

Bytes packetWithHumidity(std::int16_t value) {
    SamplePacketContents contents;
    contents.entries = {{6, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}}};
    return buildSamplePacket(contents);
}

TEST(SerialByteSourceTest, RecordsFromThePortAndEndsWhenTheBoardHangsUp) {
    BoardEnd board;
    ASSERT_FALSE(board.path().empty()) << "no pseudo-terminal available";
    USBDevice port{"NANO_33_BLE", board.path(), UsbId{0x2341, 0x805A}};
    ASSERT_TRUE(port.open(BaudRate::baud115200, StopBits::stopBits1, ParityType::none, DataBitsSize::bits8));

    test_support::TemporaryFolder folder;
    test_support::LogCapture log;
    std::atomic<int> disconnects{0};
    SampleReader reader(common::DeviceKind::NANO_33_BLE, 5, folder.path(), [&] { ++disconnects; });
    reader.beginRecording();
    reader.start(std::make_unique<SerialByteSource>(port));

    const auto first = packetWithHumidity(1);
    const auto second = packetWithHumidity(2);
    board.send(std::span(first).first(10));
    std::this_thread::sleep_for(5ms);
    Bytes rest(first.begin() + 10, first.end());
    rest.insert(rest.end(), second.begin(), second.end());
    board.send(rest);
    ASSERT_TRUE(
        eventually([&] { return reader.withFileLock([&] { return reader.packetCount(); }) == 2; }, 10s));

    board.hangUp();
    ASSERT_TRUE(eventually([&] { return reader.disconnected(); }, 10s));
    EXPECT_TRUE(test_support::eventuallyEquals([&] { return disconnects.load(); }, 1, 10s));
    EXPECT_TRUE(log.contains("Error occured during read: deviceNotConnected"));
    const auto path = reader.withFileLock([&] { return *reader.fileURL(); });
    const Bytes recorded = readBytes(path);
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(recorded, both);
}

TEST(SerialByteSourceTest, ClosedPortIsMustBeOpen) {
    USBDevice port{"NANO_33_BLE", std::string("/nonexistent"), UsbId{0x2341, 0x805A}};
    SerialByteSource source(port);
    Bytes out;
    const auto read = source.readSome(out, 0ms);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, PortError::Kind::mustBeOpen);
}

}  // namespace
}  // namespace brisel::device
