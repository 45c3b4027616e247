#include "support/raw_tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

#include "common/ascii.h"

namespace brisel::test {

namespace {

using namespace std::chrono_literals;

// No test waits longer than this for a client's bytes.
constexpr auto kReadBound = 20s;
constexpr int kPollSliceMilliseconds = 50;

// Owns one descriptor.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int value) : value_(value) {}
    Descriptor(Descriptor&& other) noexcept : value_(std::exchange(other.value_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return value_; }
    // Gives up ownership; the caller closes the descriptor.
    int release() { return std::exchange(value_, -1); }
    void reset() {
        if (value_ >= 0) {
            ::close(value_);
            value_ = -1;
        }
    }

  private:
    int value_ = -1;
};

std::pair<Descriptor, int> bindLoopback() {
    Descriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (socket.get() < 0 || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    return {std::move(socket), ntohs(address.sin_port)};
}

// The value of Content-Length in a request header, 0 when there is none.
std::size_t contentLength(std::string_view header) {
    const std::string lower = common::asciiLower(header);
    const std::size_t field = lower.find("\r\ncontent-length:");
    if (field == std::string::npos) {
        return 0;
    }
    std::size_t begin = field + std::string_view("\r\ncontent-length:").size();
    while (begin < lower.size() && lower[begin] == ' ') {
        ++begin;
    }
    std::size_t value = 0;
    std::from_chars(lower.data() + begin, lower.data() + lower.size(), value);
    return value;
}

}  // namespace

struct RawTcpServer::State {
    std::vector<RawExchange> script;
    Descriptor listener;
    int port = 0;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::vector<std::string> received;        // guarded by mutex
    std::vector<Descriptor> openConnections;  // only the server thread touches it
    std::thread thread;

    // Waits until `descriptor` is readable; false when stopping or past the deadline.
    bool waitReadable(int descriptor, std::chrono::steady_clock::time_point deadline) const {
        while (!stopping.load() && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{descriptor, POLLIN, 0};
            const int ready = ::poll(&entry, 1, kPollSliceMilliseconds);
            if (ready > 0) {
                return true;
            }
        }
        return false;
    }

    void readRequest(int connection, std::size_t index, RawExchange::Reading reading) {
        const auto deadline = std::chrono::steady_clock::now() + kReadBound;
        std::string bytes;
        std::array<char, 65536> buffer{};
        std::size_t wanted = std::string::npos;
        while (bytes.size() < wanted && waitReadable(connection, deadline)) {
            const ssize_t count = ::recv(connection, buffer.data(), buffer.size(), 0);
            if (count <= 0) {
                break;
            }
            bytes.append(buffer.data(), static_cast<std::size_t>(count));
            const std::size_t headerEnd = bytes.find("\r\n\r\n");
            if (wanted == std::string::npos && headerEnd != std::string::npos) {
                wanted = headerEnd + 4;
                if (reading == RawExchange::Reading::wholeRequest) {
                    wanted += contentLength(std::string_view(bytes).substr(0, headerEnd));
                }
            }
        }
        const std::lock_guard lock(mutex);
        received[index] = std::move(bytes);
    }

    // Sends chunks of blanks until the client closes or the server stops.
    void streamBlankChunks(int connection) const {
        const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
        std::size_t offset = 0;
        while (!stopping.load()) {
            pollfd entry{connection, POLLOUT, 0};
            if (::poll(&entry, 1, kPollSliceMilliseconds) <= 0) {
                continue;
            }
            const ssize_t count =
                ::send(connection, chunk.data() + offset, chunk.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return;
            }
            if (count > 0) {
                offset = (offset + static_cast<std::size_t>(count)) % chunk.size();
            }
        }
    }

    void serve() {
        std::size_t index = 0;
        while (!stopping.load()) {
            pollfd entry{listener.get(), POLLIN, 0};
            if (::poll(&entry, 1, kPollSliceMilliseconds) <= 0) {
                continue;
            }
            Descriptor connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (connection.get() < 0) {
                continue;
            }
            const RawExchange& exchange = script[std::min(index, script.size() - 1)];
            {
                const std::lock_guard lock(mutex);
                received.emplace_back();
            }
            readRequest(connection.get(), index, exchange.reading);
            std::size_t sent = 0;
            while (sent < exchange.reply.size()) {
                const ssize_t count = ::send(connection.get(), exchange.reply.data() + sent,
                                             exchange.reply.size() - sent, MSG_NOSIGNAL);
                if (count <= 0) {
                    break;
                }
                sent += static_cast<std::size_t>(count);
            }
            if (exchange.ending == RawExchange::Ending::endlessBlankChunks) {
                streamBlankChunks(connection.get());
            }
            if (exchange.ending == RawExchange::Ending::stayOpen) {
                openConnections.push_back(std::move(connection));
            }
            ++index;
        }
    }
};

RawTcpServer::RawTcpServer(std::vector<RawExchange> script) : state_(std::make_unique<State>()) {
    if (script.empty()) {
        throw std::invalid_argument("a raw server needs at least one exchange");
    }
    state_->script = std::move(script);
    auto [listener, port] = bindLoopback();
    if (::listen(listener.get(), 64) != 0) {
        throw std::runtime_error("cannot listen on a loopback port");
    }
    state_->listener = std::move(listener);
    state_->port = port;
    state_->thread = std::thread([state = state_.get()] { state->serve(); });
}

RawTcpServer::~RawTcpServer() {
    state_->stopping.store(true);
    state_->thread.join();
}

int RawTcpServer::port() const {
    return state_->port;
}

std::string RawTcpServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(state_->port);
}

std::size_t RawTcpServer::connections() const {
    const std::lock_guard lock(state_->mutex);
    return state_->received.size();
}

std::vector<std::string> RawTcpServer::received() const {
    const std::lock_guard lock(state_->mutex);
    return state_->received;
}

ClosedPort::ClosedPort() {
    auto [socket, port] = bindLoopback();
    descriptor_ = socket.release();
    port_ = port;
}

ClosedPort::~ClosedPort() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

std::string ClosedPort::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

}  // namespace brisel::test
