// The serial port against pseudo-terminals: the test holds the board's (master) end.
#include "device/serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/file_descriptor.h"
#include "support/log_capture.h"
#include "support/temporary_folder.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;

// The board's end of a pseudo-terminal; the port opens `path`.
class PseudoTerminal {
  public:
    PseudoTerminal() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (master_.valid() && grantpt(master_.get()) == 0 && unlockpt(master_.get()) == 0) {
            std::array<char, 128> name{};
            if (ptsname_r(master_.get(), name.data(), name.size()) == 0) {
                path_ = name.data();
            }
        }
    }

    const std::string& path() const { return path_; }
    int master() const { return master_.get(); }
    void hangUp() { master_.reset(); }

    // Everything the port wrote, until `count` bytes arrived or a second passed without any.
    std::string receive(std::size_t count) {
        std::string received;
        while (received.size() < count) {
            pollfd watched{master_.get(), POLLIN, 0};
            if (poll(&watched, 1, 1000) <= 0) {
                break;
            }
            std::array<char, 4096> chunk{};
            ssize_t n = read(master_.get(), chunk.data(), chunk.size());
            if (n <= 0) {
                break;
            }
            received.append(chunk.data(), static_cast<std::size_t>(n));
        }
        return received;
    }

    void send(const std::string& bytes) {
        ASSERT_EQ(write(master_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    termios settings() const {
        termios current{};
        EXPECT_EQ(tcgetattr(master_.get(), &current), 0);
        return current;
    }

  private:
    common::FileDescriptor master_;
    std::string path_;
};

tl::expected<void, PortError> open8N1(USBDevice& port, BaudRate rate) {
    return port.open(rate, StopBits::stopBits1, ParityType::none, DataBitsSize::bits8);
}

class SerialPortTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(board.path().empty()) << "no pseudo-terminal available"; }

    PseudoTerminal board;
    USBDevice port{"NANO_33_BLE", board.path(), UsbId{0x2341, 0x805A}};
};

TEST_F(SerialPortTest, BytesTravelBothWays) {
    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));

    ASSERT_EQ(port.writeData("\r\nBOOTLOADER\r\n"), 14U);
    EXPECT_EQ(board.receive(14), "\r\nBOOTLOADER\r\n");  // no output translation

    board.send(std::string("VLK\r\n\x00\xff", 7));
    std::array<std::uint8_t, 64> buffer{};
    auto count = port.readBytes(buffer, 5s);
    ASSERT_TRUE(count);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*count)),
              std::string("VLK\r\n\x00\xff", 7));  // no input translation
}

TEST_F(SerialPortTest, EverySpeedInUseIsSetRaw8N1WithHangUpOnCloseKept) {
    termios line = board.settings();
    line.c_cflag |= HUPCL;
    ASSERT_EQ(tcsetattr(board.master(), TCSANOW, &line), 0);
    for (auto [rate, speed] :
         {std::pair{BaudRate::baud115200, B115200}, std::pair{BaudRate::baud921600, B921600},
          std::pair{BaudRate::baud1500000, B1500000}, std::pair{BaudRate::baud1200, B1200},
          std::pair{BaudRate::baud150, B150}, std::pair{BaudRate::baud110, B110}}) {
        ASSERT_TRUE(open8N1(port, rate));
        termios seen = board.settings();
        EXPECT_EQ(cfgetospeed(&seen), speed);
        EXPECT_EQ(cfgetispeed(&seen), speed);
        EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(seen.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0U);
        EXPECT_NE(seen.c_cflag & HUPCL, 0U);
        EXPECT_NE(seen.c_cflag & (CREAD | CLOCAL), 0U);
        EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG), 0U);
        EXPECT_EQ(seen.c_iflag & (IXON | IXOFF | ICRNL), 0U);
        EXPECT_EQ(seen.c_oflag & OPOST, 0U);
        EXPECT_EQ(seen.c_cc[VMIN], 1);
        EXPECT_EQ(seen.c_cc[VTIME], 5);
        port.close();
    }
}

// A pseudo-terminal forces 8 bits without parity, so only the stop bits show on this line.
TEST_F(SerialPortTest, StopBitsReachTheLine) {
    ASSERT_TRUE(port.open(BaudRate::baud9600, StopBits::stopBits2, ParityType::none, DataBitsSize::bits8));
    termios seen = board.settings();
    EXPECT_NE(seen.c_cflag & CSTOPB, 0U);
    port.close();

    ASSERT_TRUE(port.open(BaudRate::baud9600, StopBits::stopBits1, ParityType::none, DataBitsSize::bits8));
    seen = board.settings();
    EXPECT_EQ(seen.c_cflag & CSTOPB, 0U);
}

TEST_F(SerialPortTest, ReadGivesNothingWhenTheBoardIsSilent) {
    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));
    std::array<std::uint8_t, 16> buffer{};

    EXPECT_EQ(port.readBytes(buffer, 50ms), 0U);
    EXPECT_EQ(port.readBytes(std::span<std::uint8_t>(), 0ms), 0U);
}

TEST_F(SerialPortTest, InterruptEndsAWaitingReadFromAnotherThread) {
    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));
    std::array<std::uint8_t, 16> buffer{};
    auto started = std::chrono::steady_clock::now();

    std::thread stopper([this] {
        std::this_thread::sleep_for(50ms);
        port.interrupt();
    });
    auto count = port.readBytes(buffer, 120s);
    stopper.join();

    EXPECT_EQ(count, 0U);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

TEST_F(SerialPortTest, InterruptBeforeAReadEndsThatReadOnly) {
    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));
    std::array<std::uint8_t, 16> buffer{};

    port.interrupt();
    EXPECT_EQ(port.readBytes(buffer, 120s), 0U);

    board.send("x");
    EXPECT_EQ(port.readBytes(buffer, 5s), 1U);
}

TEST_F(SerialPortTest, HungUpLineIsDeviceNotConnected) {
    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));
    board.hangUp();
    std::array<std::uint8_t, 16> buffer{};

    auto read = port.readBytes(buffer, 5s);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, PortError::Kind::deviceNotConnected);
    auto written = port.writeData("x");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().kind, PortError::Kind::deviceNotConnected);
    EXPECT_TRUE(port.deviceOpen());  // the owner closes it
}

TEST_F(SerialPortTest, PortInUseIsRefusedUntilReleased) {
    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));
    USBDevice second("NANO_33_BLE", board.path(), UsbId{0x2341, 0x805A});

    auto refused = open8N1(second, BaudRate::baud115200);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, PortError::Kind::failedToOpen);
    EXPECT_FALSE(second.deviceOpen());

    { USBDevice released = std::move(port); }  // destroying the owner closes the port
    EXPECT_FALSE(port.deviceOpen());
    EXPECT_TRUE(open8N1(second, BaudRate::baud115200));
}

TEST_F(SerialPortTest, OpenFailuresAreTyped) {
    USBDevice withoutPath("NANO_33_BLE", std::nullopt, UsbId{});
    EXPECT_EQ(open8N1(withoutPath, BaudRate::baud115200).error().kind, PortError::Kind::invalidPath);

    USBDevice missing("NANO_33_BLE", "/nonexistent/ttyACM9", UsbId{});
    EXPECT_EQ(open8N1(missing, BaudRate::baud115200).error().kind, PortError::Kind::failedToOpen);

    auto plainFile =
        std::filesystem::temp_directory_path() / ("brisel-not-a-tty-" + std::to_string(getpid()));
    {
        std::FILE* created = std::fopen(plainFile.c_str(), "w");
        ASSERT_NE(created, nullptr);
        std::fclose(created);
    }
    USBDevice notATerminal("NANO_33_BLE", plainFile.string(), UsbId{});
    EXPECT_EQ(open8N1(notATerminal, BaudRate::baud115200).error().kind, PortError::Kind::failedToOpen);
    EXPECT_FALSE(notATerminal.deviceOpen());
    std::filesystem::remove(plainFile);
}

TEST_F(SerialPortTest, ClosedPortRefusesIoAndRepeatedOpenOrCloseChangesNothing) {
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_EQ(port.readBytes(buffer, 0ms).error().kind, PortError::Kind::mustBeOpen);
    EXPECT_EQ(port.writeData("x").error().kind, PortError::Kind::mustBeOpen);
    port.close();

    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));
    EXPECT_TRUE(open8N1(port, BaudRate::baud1200));
    termios seen = board.settings();
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B115200));
    EXPECT_EQ(port.writeData(""), 0U);
}

TEST_F(SerialPortTest, LargeWriteWaitsForTheBoardToDrain) {
    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));
    const std::string image(256 * 1024, 'w');
    std::string received;

    std::thread reader([&] { received = board.receive(image.size()); });
    auto written = port.writeData(image);
    reader.join();

    EXPECT_EQ(written, image.size());
    EXPECT_EQ(received.size(), image.size());
}

TEST_F(SerialPortTest, WriteToABoardThatNeverReadsGivesUp) {
    ASSERT_TRUE(open8N1(port, BaudRate::baud115200));
    const std::string image(4 * 1024 * 1024, 'w');

    auto written = port.writeData(image, 100ms);

    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().kind, PortError::Kind::failedToWrite);
}

// Opens a node that the calling user may not use; true when it is refused with the hint about access.
bool refusedWithAccessHint(const std::filesystem::path& node) {
    test_support::LogCapture log;
    USBDevice port("NANO_33_BLE", node.string(), UsbId{0x2341, 0x805A});
    auto opened = port.open(BaudRate::baud115200, StopBits::stopBits1, ParityType::none, DataBitsSize::bits8);
    return !opened && opened.error().kind == PortError::Kind::failedToOpen &&
           log.contains("add yourself to the dialout group");
}

TEST(SerialPortPermissionTest, RefusalForLackOfPermissionTellsHowToGetAccess) {
    test_support::TemporaryFolder folder;
    const std::filesystem::path node = folder.path() / "ttyACM9";
    std::ofstream(node).put('\0');
    ASSERT_EQ(chmod(node.c_str(), 0), 0);
    if (geteuid() != 0) {
        EXPECT_TRUE(refusedWithAccessHint(node));
        return;
    }
    // Root may open anything: one thread of this process tries as nobody. The file-system ids are the
    // calling thread's own, so the rest of the process keeps its access. (A forked child would inherit
    // the locks that other threads held at the fork, the log's among them, and could wait for ever.)
    bool refused = false;
    bool becameNobody = false;
    std::thread unprivileged([&] {
        setfsgid(65534);
        setfsuid(65534);
        becameNobody = setfsuid(static_cast<uid_t>(-1)) == 65534;
        refused = becameNobody && refusedWithAccessHint(node);
    });
    unprivileged.join();
    ASSERT_TRUE(becameNobody);
    EXPECT_TRUE(refused);
}

TEST(PortErrorTest, PrintsAsItsCase) {
    EXPECT_EQ(toString(PortError{PortError::Kind::deviceNotConnected, {}}), "deviceNotConnected");
    EXPECT_EQ(toString(PortError{PortError::Kind::mustBeOpen, {}}), "mustBeOpen");
    EXPECT_EQ(toString(PortError{PortError::Kind::failedToRead, "Input/output error"}),
              "failedToRead(\"Input/output error\")");
}

}  // namespace
}  // namespace brisel::device
