#include "support/wifi_test_board.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "device/wifi/crc16.h"

namespace brisel::test {

namespace {

// Waits until `fd` is ready for `events`; false once `deadline` has passed.
bool readyBefore(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd waitFor{fd, events, 0};
        if (::poll(&waitFor, 1, static_cast<int>(left.count())) > 0) {
            return true;
        }
    }
}

}  // namespace

std::optional<WifiTestBoard> WifiTestBoard::connect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return WifiTestBoard(fd);
}

WifiTestBoard::WifiTestBoard(int fd_) : fd(fd_) {}

WifiTestBoard::WifiTestBoard(WifiTestBoard&& other) noexcept
    : fd(std::exchange(other.fd, -1)), peerClosed(other.peerClosed) {}

WifiTestBoard& WifiTestBoard::operator=(WifiTestBoard&& other) noexcept {
    if (this != &other) {
        close();
        fd = std::exchange(other.fd, -1);
        peerClosed = other.peerClosed;
    }
    return *this;
}

WifiTestBoard::~WifiTestBoard() {
    close();
}

bool WifiTestBoard::send(std::span<const std::uint8_t> bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t result = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

bool WifiTestBoard::send(std::string_view text) {
    return send(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::size_t WifiTestBoard::flood(std::string_view pattern, std::chrono::milliseconds duration) {
    // The pattern repeated; each send starts where the last one left the pattern, so that it runs on
    // unbroken.
    std::string burst;
    for (std::size_t repeats = 64 * 1024 / pattern.size() + 2; repeats > 0; --repeats) {
        burst += pattern;
    }
    std::size_t sent = 0;
    std::size_t offset = 0;
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (readyBefore(fd, POLLOUT, deadline)) {
        const ssize_t result =
            ::send(fd, burst.data() + offset, burst.size() - pattern.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (result < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            peerClosed = true;
            return sent;
        }
        sent += static_cast<std::size_t>(result);
        offset = (offset + static_cast<std::size_t>(result)) % pattern.size();
    }
    return sent;
}

std::vector<std::uint8_t> WifiTestBoard::read(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received.size() < count && readyBefore(fd, POLLIN, deadline)) {
        std::uint8_t chunk[4096];
        const std::size_t wanted = std::min(sizeof chunk, count - received.size());
        const ssize_t result = ::recv(fd, chunk, wanted, 0);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            peerClosed = true;
            break;
        }
        received.insert(received.end(), chunk, chunk + result);
    }
    return received;
}

std::vector<std::uint8_t> WifiTestBoard::readSome(std::size_t maxCount, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> received(maxCount);
    pollfd waitFor{fd, POLLIN, 0};
    if (maxCount == 0 ||
        ::poll(&waitFor, 1, static_cast<int>(std::max<std::int64_t>(timeout.count(), 0))) <= 0) {
        return {};
    }
    const ssize_t result = ::recv(fd, received.data(), received.size(), 0);
    if (result == 0 || (result < 0 && errno != EINTR && errno != EAGAIN)) {
        peerClosed = true;
    }
    received.resize(result > 0 ? static_cast<std::size_t>(result) : 0);
    return received;
}

bool WifiTestBoard::waitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (readyBefore(fd, POLLIN, deadline)) {
        std::uint8_t chunk[4096];
        const ssize_t result = ::recv(fd, chunk, sizeof chunk, 0);
        if (result == 0 || (result < 0 && errno != EINTR && errno != EAGAIN)) {
            peerClosed = true;
            return true;
        }
    }
    return false;
}

void WifiTestBoard::close() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void WifiTestBoard::reset() {
    if (fd >= 0) {
        const linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        close();
    }
}

std::vector<std::uint8_t> ackPacket(std::uint8_t acknowledgedProtocol, std::uint8_t response) {
    std::vector<std::uint8_t> packet{'#', '$', 1, 'a', 2, 0, acknowledgedProtocol, response};
    const std::uint16_t crc = device::crc16(packet);
    packet.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    packet.push_back(static_cast<std::uint8_t>(crc >> 8));
    return packet;
}

}  // namespace brisel::test
