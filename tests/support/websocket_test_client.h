// A minimal websocket client (RFC 6455) over a plain TCP socket, for tests of the service's endpoint.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tl/expected.hpp>

namespace brisel::test_support {

enum class Opcode : std::uint8_t {
    continuation = 0x0,
    text = 0x1,
    binary = 0x2,
    close = 0x8,
    ping = 0x9,
    pong = 0xA
};

struct ReceivedMessage {
    Opcode opcode = Opcode::text;
    std::string payload;
};

// Header values of the opening handshake that a test chooses, as a page on another site would.
struct HandshakeFields {
    std::optional<std::string> host;    // the Host value; none sends "<host>:<port>", "" sends no Host
    std::optional<std::string> origin;  // the Origin value; none sends no Origin
};

// The description of a handshake that the server closed without any reply.
inline constexpr std::string_view kClosedWithoutReply = "closed without a reply";

class WebSocketTestClient {
  public:
    // Connects to `host` (an IPv4 or IPv6 literal) on `port`, optionally from the local address
    // `bindAddress`, and completes the opening handshake. Returns a description on failure
    // (kClosedWithoutReply when the server closed the connection before answering).
    static tl::expected<WebSocketTestClient, std::string> connect(const std::string& host, std::uint16_t port,
                                                                  const std::string& bindAddress = "",
                                                                  const HandshakeFields& fields = {});

    WebSocketTestClient(WebSocketTestClient&& other) noexcept;
    WebSocketTestClient& operator=(WebSocketTestClient&& other) noexcept;
    WebSocketTestClient(const WebSocketTestClient&) = delete;
    WebSocketTestClient& operator=(const WebSocketTestClient&) = delete;
    ~WebSocketTestClient();

    // One masked frame; false when the socket refused the bytes.
    bool sendFrame(Opcode opcode, std::string_view payload, bool final = true);
    bool sendText(std::string_view text) { return sendFrame(Opcode::text, text); }
    bool sendBinary(std::string_view bytes) { return sendFrame(Opcode::binary, bytes); }
    // Several complete text messages written to the socket at once.
    bool sendMessages(const std::vector<std::string>& texts);
    // One text message in several frames: a text frame, then continuation frames, the last final.
    bool sendFragmentedText(const std::vector<std::string>& pieces);

    // The next complete data message; none when `timeout` passes, the server closes or the socket fails.
    std::optional<ReceivedMessage> receive(std::chrono::milliseconds timeout);
    // True when the server closes the connection (close frame or end of stream) within `timeout`;
    // data messages that arrive first are discarded.
    bool waitForClose(std::chrono::milliseconds timeout);
    // Sends a close frame and shuts the socket down for writing.
    void close();

  private:
    explicit WebSocketTestClient(int socket) : fd(socket) {}
    bool sendAll(std::string_view bytes);
    // The bytes of one masked client frame.
    static std::string encodeFrame(Opcode opcode, std::string_view payload, bool final);
    // Reads until at least `count` bytes are buffered; false on timeout, end of stream or error.
    bool fill(std::size_t count, std::chrono::steady_clock::time_point deadline);

    int fd = -1;
    std::string buffer;
    bool peerClosed = false;
};

}  // namespace brisel::test_support
