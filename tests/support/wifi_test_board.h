// A WiFi board stand-in for tests: a plain TCP client on the loopback interface.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace brisel::test {

class WifiTestBoard {
  public:
    // Connects to 127.0.0.1:port; none when the connection is refused.
    static std::optional<WifiTestBoard> connect(std::uint16_t port);

    WifiTestBoard(WifiTestBoard&& other) noexcept;
    WifiTestBoard& operator=(WifiTestBoard&& other) noexcept;
    WifiTestBoard(const WifiTestBoard&) = delete;
    WifiTestBoard& operator=(const WifiTestBoard&) = delete;
    ~WifiTestBoard();

    bool send(std::span<const std::uint8_t> bytes);
    bool send(std::string_view text);

    // Sends `pattern` (not empty) over and over, as fast as the connection takes it, until the server closes
    // the connection or `duration` passes; returns the number of bytes sent.
    std::size_t flood(std::string_view pattern, std::chrono::milliseconds duration);

    // Reads until `count` bytes came, the server closed, or `timeout` passed; returns what came.
    std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds timeout);

    // Waits at most `timeout` for bytes and returns those of one receive (at most `maxCount`); empty when
    // none came or the server closed the connection.
    std::vector<std::uint8_t> readSome(std::size_t maxCount, std::chrono::milliseconds timeout);

    // True when the server closes the connection (end of stream or reset) within `timeout`; bytes that
    // arrive meanwhile are discarded.
    bool waitForClose(std::chrono::milliseconds timeout);

    // True once a read or wait saw the server close the connection.
    bool closedByServer() const { return peerClosed; }

    // Closes with FIN.
    void close();
    // Closes with RST.
    void reset();

  private:
    explicit WifiTestBoard(int fd);
    int fd = -1;
    bool peerClosed = false;
};

// The 10-byte acknowledgement a board sends for a firmware packet.
std::vector<std::uint8_t> ackPacket(std::uint8_t acknowledgedProtocol, std::uint8_t response);

}  // namespace brisel::test
