#include "device/serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/logger.h"
#include "device/samples/source_line.h"

namespace brisel::device {
namespace {

using common::logger;

speed_t terminalSpeed(BaudRate rate) {
    switch (rate) {
        case BaudRate::baud0:
            return B0;
        case BaudRate::baud50:
            return B50;
        case BaudRate::baud75:
            return B75;
        case BaudRate::baud110:
            return B110;
        case BaudRate::baud134:
            return B134;
        case BaudRate::baud150:
            return B150;
        case BaudRate::baud200:
            return B200;
        case BaudRate::baud300:
            return B300;
        case BaudRate::baud600:
            return B600;
        case BaudRate::baud1200:
            return B1200;
        case BaudRate::baud1800:
            return B1800;
        case BaudRate::baud2400:
            return B2400;
        case BaudRate::baud4800:
            return B4800;
        case BaudRate::baud9600:
            return B9600;
        case BaudRate::baud19200:
            return B19200;
        case BaudRate::baud38400:
            return B38400;
        case BaudRate::baud57600:
            return B57600;
        case BaudRate::baud115200:
            return B115200;
        case BaudRate::baud230400:
            return B230400;
        case BaudRate::baud460800:
            return B460800;
        case BaudRate::baud921600:
            return B921600;
        case BaudRate::baud1500000:
            return B1500000;
        case BaudRate::baud3000000:
            return B3000000;
    }
    return B0;
}

tcflag_t characterSize(DataBitsSize bits) {
    switch (bits) {
        case DataBitsSize::bits5:
            return CS5;
        case DataBitsSize::bits6:
            return CS6;
        case DataBitsSize::bits7:
            return CS7;
        case DataBitsSize::bits8:
            return CS8;
    }
    return CS8;
}

tcflag_t parityFlags(ParityType parity) {
    switch (parity) {
        case ParityType::none:
            return 0;
        case ParityType::even:
            return PARENB;
        case ParityType::odd:
            return PARENB | PARODD;
    }
    return 0;
}

// Raw settings: no line editing, no signals, no echo, no translation, no software or hardware flow
// control; the receiver on, modem lines ignored. HUPCL is left as the line has it.
void makeRaw(termios& settings, StopBits stopBits, ParityType parity, DataBitsSize dataBits,
             std::uint8_t timeout) {
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CREAD | CLOCAL | CRTSCTS);
    settings.c_cflag |= characterSize(dataBits) | parityFlags(parity) | CREAD | CLOCAL;
    if (stopBits == StopBits::stopBits2) {
        settings.c_cflag |= CSTOPB;
    }
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ISIG | ECHO | ECHOE | ECHONL | IEXTEN);
    settings.c_iflag &= ~static_cast<tcflag_t>(INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | ISTRIP | INPCK |
                                               PARMRK | BRKINT | IGNBRK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    for (cc_t& character : settings.c_cc) {
        character = 0;
    }
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = timeout;
}

std::string systemError(int error) {
    return std::strerror(error);
}

// "/sys/class/tty/ttyACM0" for "/dev/ttyACM0" when that entry exists now; none otherwise (a node
// reached through a link of another name, a system without sysfs).
std::optional<std::string> ttySysfsEntry(const std::string& devicePath) {
    const auto slash = devicePath.find_last_of('/');
    const std::string entry =
        "/sys/class/tty/" + devicePath.substr(slash == std::string::npos ? 0 : slash + 1);
    if (::access(entry.c_str(), F_OK) != 0) {
        return std::nullopt;
    }
    return entry;
}

PortError portError(PortError::Kind kind, std::string detail = {}) {
    return PortError{kind, std::move(detail)};
}

}  // namespace

USBDevice::USBDevice(std::string kindName, std::optional<std::string> path, UsbId ids, std::uint8_t timeout)
    : kindName_(std::move(kindName)),
      path_(std::move(path)),
      ids_(ids),
      timeout_(timeout),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

USBDevice::~USBDevice() {
    if (deviceOpen()) {
        close();
    }
}

USBDevice& USBDevice::operator=(USBDevice&& other) noexcept {
    if (this != &other) {
        if (deviceOpen()) {
            close();
        }
        kindName_ = std::move(other.kindName_);
        path_ = std::move(other.path_);
        ids_ = other.ids_;
        timeout_ = other.timeout_;
        port_ = std::move(other.port_);
        wake_ = std::move(other.wake_);
        sysfsEntry_ = std::move(other.sysfsEntry_);
    }
    return *this;
}

tl::expected<void, PortError> USBDevice::open(BaudRate baudRate, StopBits stopBits, ParityType parity,
                                              DataBitsSize dataBits) {
    if (deviceOpen()) {
        logger().warning("Device already open " + sourceLine());
        return {};
    }
    if (!path_) {
        return tl::unexpected(portError(PortError::Kind::invalidPath));
    }
    if (!wake_.valid()) {
        logger().error("Could not open " + *path_ + ": the system refused an event descriptor (" +
                       systemError(errno) + "); close other programs and try again");
        return tl::unexpected(portError(PortError::Kind::failedToOpen));
    }
    common::FileDescriptor port(::open(path_->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!port.valid()) {
        const int openError = errno;
        logger().error("Could not open " + *path_ + ": " + systemError(openError) +
                       "; check that the board is plugged in and that you may use serial ports");
        if (openError == EACCES || openError == EPERM) {
            logger().error("You may not use " + *path_ +
                           ": add yourself to the dialout group (sudo usermod -aG dialout $USER) and log "
                           "in again, or install packaging/60-brisel-boards.rules as the README says");
        }
        return tl::unexpected(portError(PortError::Kind::failedToOpen));
    }
    if (::flock(port.get(), LOCK_EX | LOCK_NB) != 0) {
        logger().error("Could not open " + *path_ + ": it is in use by another program (" +
                       systemError(errno) + "); close that program and try again");
        return tl::unexpected(portError(PortError::Kind::failedToOpen));
    }
    termios settings{};
    if (::tcgetattr(port.get(), &settings) != 0) {
        logger().error("Could not open " + *path_ + ": it is not a serial port (" + systemError(errno) + ")");
        return tl::unexpected(portError(PortError::Kind::failedToOpen));
    }
    speed_t speed = terminalSpeed(baudRate);
    ::cfsetispeed(&settings, speed);
    ::cfsetospeed(&settings, speed);
    makeRaw(settings, stopBits, parity, dataBits, timeout_);
    if (::tcsetattr(port.get(), TCSANOW, &settings) != 0) {
        logger().error("Could not configure " + *path_ + ": " + systemError(errno) +
                       "; unplug the board, plug it in again and retry");
        return tl::unexpected(portError(PortError::Kind::failedToOpen));
    }
    consumeInterrupt();  // an interrupt meant for an earlier session does not cut the first read short
    port_ = std::move(port);
    sysfsEntry_ = ttySysfsEntry(*path_);
    logger().info("Device opened");
    return {};
}

void USBDevice::close() {
    if (!deviceOpen()) {
        logger().warning("Device not open " + sourceLine());
        return;
    }
    port_.reset();
    sysfsEntry_.reset();
    logger().info("Device closed");
}

tl::expected<std::size_t, PortError> USBDevice::readBytes(std::span<std::uint8_t> into,
                                                          std::chrono::milliseconds wait) {
    if (!deviceOpen()) {
        return tl::unexpected(portError(PortError::Kind::mustBeOpen));
    }
    if (deviceNodeGone()) {
        return tl::unexpected(portError(PortError::Kind::deviceNotConnected));
    }
    if (into.empty()) {
        return 0;
    }
    switch (waitFor(POLLIN, wait)) {
        case WaitResult::ready:
            break;
        case WaitResult::timedOut:
            return 0;
        case WaitResult::interrupted:
            return 0;
        case WaitResult::hungUp:
            return tl::unexpected(portError(PortError::Kind::deviceNotConnected));
        case WaitResult::failed:
            return tl::unexpected(portError(PortError::Kind::failedToRead, systemError(errno)));
    }
    ssize_t count = ::read(port_.get(), into.data(), into.size());
    if (count > 0) {
        return static_cast<std::size_t>(count);
    }
    if (count == 0) {
        return tl::unexpected(portError(PortError::Kind::deviceNotConnected));  // end of file: hung up
    }
    int error = errno;
    if (error == EAGAIN || error == EINTR) {
        return 0;
    }
    if (error == EIO || error == ENXIO || error == ENODEV) {
        return tl::unexpected(portError(PortError::Kind::deviceNotConnected));
    }
    return tl::unexpected(portError(PortError::Kind::failedToRead, systemError(error)));
}

tl::expected<std::size_t, PortError> USBDevice::writeBytes(std::span<const std::uint8_t> from,
                                                           std::chrono::milliseconds stallLimit) {
    if (!deviceOpen()) {
        logger().error("Device must be open " + sourceLine());
        return tl::unexpected(portError(PortError::Kind::mustBeOpen));
    }
    std::size_t written = 0;
    while (written < from.size()) {
        std::span<const std::uint8_t> rest = from.subspan(written);
        ssize_t count = ::write(port_.get(), rest.data(), rest.size());
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        int error = count == 0 ? EAGAIN : errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EIO || error == ENXIO || error == ENODEV) {
            logger().info("Failed to write");
            return tl::unexpected(portError(PortError::Kind::deviceNotConnected));
        }
        if (error != EAGAIN) {
            logger().info("Failed to write");
            return tl::unexpected(portError(PortError::Kind::failedToWrite, systemError(error)));
        }
        switch (waitFor(POLLOUT, stallLimit)) {
            case WaitResult::ready:
                break;
            case WaitResult::interrupted:
                return written;
            case WaitResult::timedOut:
                logger().info("Failed to write");
                return tl::unexpected(
                    portError(PortError::Kind::failedToWrite, "the board accepted no bytes in time"));
            case WaitResult::hungUp:
                logger().info("Failed to write");
                return tl::unexpected(portError(PortError::Kind::deviceNotConnected));
            case WaitResult::failed:
                logger().info("Failed to write");
                return tl::unexpected(portError(PortError::Kind::failedToWrite, systemError(errno)));
        }
    }
    return written;
}

tl::expected<std::size_t, PortError> USBDevice::writeData(std::string_view bytes,
                                                          std::chrono::milliseconds stallLimit) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return writeBytes(std::span<const std::uint8_t>(first, bytes.size()), stallLimit);
}

void USBDevice::interrupt() {
    if (wake_.valid()) {
        std::uint64_t one = 1;
        // A full counter already means "interrupt pending"; nothing else can fail here.
        [[maybe_unused]] ssize_t ignored = ::write(wake_.get(), &one, sizeof one);
    }
}

void USBDevice::consumeInterrupt() {
    if (wake_.valid()) {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t ignored = ::read(wake_.get(), &count, sizeof count);
    }
}

bool USBDevice::deviceNodeGone() const {
    struct stat status {};
    if (::fstat(port_.get(), &status) != 0) {
        return true;
    }
    if (status.st_nlink != 1) {
        return true;  // an unplugged board's node has been removed
    }
    // The kernel's entry of the tty goes with the board, also when the open descriptor still looks whole.
    return sysfsEntry_ && ::access(sysfsEntry_->c_str(), F_OK) != 0 && errno == ENOENT;
}

USBDevice::WaitResult USBDevice::waitFor(short events, std::chrono::milliseconds wait) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::max(wait, std::chrono::milliseconds(0));
    std::array<pollfd, 2> watched{pollfd{port_.get(), events, 0}, pollfd{wake_.get(), POLLIN, 0}};
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        int timeoutMs = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
        int ready = ::poll(watched.data(), watched.size(), timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WaitResult::failed;
        }
        if (watched[1].revents & POLLIN) {
            consumeInterrupt();
            return WaitResult::interrupted;
        }
        short seen = watched[0].revents;
        if (seen & events) {
            return WaitResult::ready;  // data that came before a hang-up is still read first
        }
        if (seen & (POLLHUP | POLLERR)) {
            return WaitResult::hungUp;
        }
        if (seen & POLLNVAL) {
            errno = EBADF;
            return WaitResult::failed;
        }
        if (ready == 0 && Clock::now() >= deadline) {
            return WaitResult::timedOut;
        }
    }
}

}  // namespace brisel::device
