#include "support/websocket_test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace brisel::test_support {
namespace {

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_UNSPEC;
};

std::optional<SocketAddress> parseAddress(const std::string& host, std::uint16_t port) {
    SocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.length = sizeof(sockaddr_in);
        address.family = AF_INET;
        return address;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
        address.family = AF_INET6;
        return address;
    }
    return std::nullopt;
}

int remainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

tl::expected<WebSocketTestClient, std::string> WebSocketTestClient::connect(const std::string& host,
                                                                            std::uint16_t port,
                                                                            const std::string& bindAddress,
                                                                            const HandshakeFields& fields) {
    auto address = parseAddress(host, port);
    if (!address) {
        return tl::unexpected(std::string("not an address: ") + host);
    }
    const int socketFd = ::socket(address->family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socketFd < 0) {
        return tl::unexpected(std::string("socket: ") + std::strerror(errno));
    }
    WebSocketTestClient client(socketFd);
    const int one = 1;
    ::setsockopt(socketFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (!bindAddress.empty()) {
        auto local = parseAddress(bindAddress, 0);
        if (!local ||
            ::bind(socketFd, reinterpret_cast<const sockaddr*>(&local->storage), local->length) != 0) {
            return tl::unexpected(std::string("bind to ") + bindAddress + " failed");
        }
    }
    if (::connect(socketFd, reinterpret_cast<const sockaddr*>(&address->storage), address->length) != 0) {
        return tl::unexpected(std::string("connect: ") + std::strerror(errno));
    }
    // An IPv6 literal is bracketed in a Host field, as browsers send it.
    const std::string hostName = host.find(':') == std::string::npos ? host : "[" + host + "]";
    const std::string hostField = fields.host.value_or(hostName + ":" + std::to_string(port));
    const std::string request =
        "GET / HTTP/1.1\r\n" + (hostField.empty() ? "" : "Host: " + hostField + "\r\n") +
        (fields.origin ? "Origin: " + *fields.origin + "\r\n" : "") +
        "Upgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!client.sendAll(request)) {
        return tl::unexpected(std::string("sending the opening handshake failed"));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::size_t headerEnd = std::string::npos;
    while ((headerEnd = client.buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!client.fill(client.buffer.size() + 1, deadline)) {
            if (client.peerClosed && client.buffer.empty()) {
                return tl::unexpected(std::string(kClosedWithoutReply));
            }
            return tl::unexpected(std::string("no handshake response"));
        }
    }
    const std::string response = client.buffer.substr(0, headerEnd);
    client.buffer.erase(0, headerEnd + 4);
    if (response.rfind("HTTP/1.1 101", 0) != 0 ||
        response.find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=") == std::string::npos) {
        return tl::unexpected("unexpected handshake response: " + response);
    }
    return client;
}

WebSocketTestClient::WebSocketTestClient(WebSocketTestClient&& other) noexcept
    : fd(std::exchange(other.fd, -1)), buffer(std::move(other.buffer)), peerClosed(other.peerClosed) {}

WebSocketTestClient& WebSocketTestClient::operator=(WebSocketTestClient&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = std::exchange(other.fd, -1);
        buffer = std::move(other.buffer);
        peerClosed = other.peerClosed;
    }
    return *this;
}

WebSocketTestClient::~WebSocketTestClient() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool WebSocketTestClient::sendAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool WebSocketTestClient::sendFrame(Opcode opcode, std::string_view payload, bool final) {
    return sendAll(encodeFrame(opcode, payload, final));
}

bool WebSocketTestClient::sendMessages(const std::vector<std::string>& texts) {
    std::string frames;
    for (const auto& text : texts) {
        frames += encodeFrame(Opcode::text, text, true);
    }
    return sendAll(frames);
}

std::string WebSocketTestClient::encodeFrame(Opcode opcode, std::string_view payload, bool final) {
    std::string frame;
    frame.push_back(static_cast<char>((final ? 0x80U : 0x00U) | static_cast<unsigned>(opcode)));
    const std::size_t length = payload.size();
    if (length < 126) {
        frame.push_back(static_cast<char>(0x80U | length));
    } else if (length <= 0xFFFF) {
        frame.push_back(static_cast<char>(0x80U | 126U));
        frame.push_back(static_cast<char>((length >> 8U) & 0xFFU));
        frame.push_back(static_cast<char>(length & 0xFFU));
    } else {
        frame.push_back(static_cast<char>(0x80U | 127U));
        for (int shift = 56; shift >= 0; shift -= 8) {
            frame.push_back(static_cast<char>((length >> static_cast<unsigned>(shift)) & 0xFFU));
        }
    }
    const std::array<unsigned char, 4> mask = {0x37, 0xFA, 0x21, 0x3D};
    frame.append(reinterpret_cast<const char*>(mask.data()), mask.size());
    const std::size_t payloadStart = frame.size();
    frame.append(payload);
    for (std::size_t i = 0; i < length; ++i) {
        frame[payloadStart + i] =
            static_cast<char>(static_cast<unsigned char>(frame[payloadStart + i]) ^ mask[i % 4]);
    }
    return frame;
}

bool WebSocketTestClient::sendFragmentedText(const std::vector<std::string>& pieces) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Opcode opcode = i == 0 ? Opcode::text : Opcode::continuation;
        if (!sendFrame(opcode, pieces[i], i + 1 == pieces.size())) {
            return false;
        }
    }
    return true;
}

bool WebSocketTestClient::fill(std::size_t count, std::chrono::steady_clock::time_point deadline) {
    // Not cleared for each call: a reply burst calls this for every few replies.
    thread_local std::array<char, 65536> chunk;
    while (buffer.size() < count) {
        if (peerClosed) {
            return false;
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            peerClosed = true;
            return false;
        }
        buffer.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return true;
}

std::optional<ReceivedMessage> WebSocketTestClient::receive(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    ReceivedMessage message;
    bool started = false;
    while (true) {
        if (!fill(2, deadline)) {
            return std::nullopt;
        }
        const auto first = static_cast<unsigned char>(buffer[0]);
        const auto second = static_cast<unsigned char>(buffer[1]);
        std::size_t headerLength = 2;
        std::uint64_t length = second & 0x7FU;
        if (length == 126) {
            headerLength = 4;
        } else if (length == 127) {
            headerLength = 10;
        }
        if (!fill(headerLength, deadline)) {
            return std::nullopt;
        }
        if (headerLength > 2) {
            length = 0;
            for (std::size_t i = 2; i < headerLength; ++i) {
                length = (length << 8U) | static_cast<unsigned char>(buffer[i]);
            }
        }
        if (!fill(headerLength + length, deadline)) {
            return std::nullopt;
        }
        const auto opcode = static_cast<Opcode>(first & 0x0FU);
        const bool final = (first & 0x80U) != 0;
        std::string payload = buffer.substr(headerLength, length);
        buffer.erase(0, headerLength + length);
        if (opcode == Opcode::close) {
            peerClosed = true;
            return std::nullopt;
        }
        if (opcode == Opcode::ping || opcode == Opcode::pong) {
            continue;
        }
        if (!started) {
            message.opcode = opcode;
            started = true;
        }
        message.payload += payload;
        if (final) {
            return message;
        }
    }
}

bool WebSocketTestClient::waitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!peerClosed) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        receive(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                      std::chrono::steady_clock::now()));
    }
    return true;
}

void WebSocketTestClient::close() {
    if (fd < 0) {
        return;
    }
    sendFrame(Opcode::close, std::string("\x03\xE8", 2));
    ::shutdown(fd, SHUT_WR);
}

}  // namespace brisel::test_support
