#include "support/flash_tool_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace brisel::test {

namespace {

using namespace std::chrono_literals;

constexpr int kRequestWaitMs = 5000;

}  // namespace

tl::expected<std::unique_ptr<FlashToolServer>, std::string> FlashToolServer::start(
    std::filesystem::path socketPath, ToolHandler handler) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = socketPath.string();
    if (text.size() >= sizeof address.sun_path) {
        return tl::unexpected("socket path too long (" + std::to_string(text.size()) + " bytes): " + text);
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    common::FileDescriptor listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!listener.valid()) {
        return tl::unexpected("cannot make a socket: " + std::string(std::strerror(errno)));
    }
    std::error_code ignored;
    std::filesystem::remove(socketPath, ignored);
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 16) != 0) {
        return tl::unexpected("cannot listen on " + text + ": " + std::strerror(errno));
    }
    return std::unique_ptr<FlashToolServer>(
        new FlashToolServer(std::move(socketPath), std::move(handler), std::move(listener)));
}

FlashToolServer::FlashToolServer(std::filesystem::path socketPath, ToolHandler handler_,
                                 common::FileDescriptor listener_)
    : path(std::move(socketPath)),
      handler(std::move(handler_)),
      listener(std::move(listener_)),
      wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      thread([this] { run(); }) {}

FlashToolServer::~FlashToolServer() {
    holdReplies(false);
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake.get(), &one, sizeof one);
    thread.join();
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

void FlashToolServer::run() {
    for (;;) {
        std::array<pollfd, 2> watched{pollfd{listener.get(), POLLIN, 0}, pollfd{wake.get(), POLLIN, 0}};
        if (::poll(watched.data(), watched.size(), 1000) < 0 && errno != EINTR) {
            std::fprintf(stderr, "flash tool server: poll failed: %s; tools can no longer be served\n",
                         std::strerror(errno));
            return;
        }
        if ((watched[1].revents & POLLIN) != 0) {
            return;
        }
        if ((watched[0].revents & POLLIN) != 0) {
            common::FileDescriptor client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.valid()) {
                serve(client.get());
            }
        }
    }
}

void FlashToolServer::serve(int client) {
    pollfd request{client, POLLIN, 0};
    if (::poll(&request, 1, kRequestWaitMs) <= 0) {
        std::fprintf(stderr, "flash tool server: a tool connected and sent nothing; it was dropped\n");
        return;
    }
    std::string message(kToolMessageLimit, '\0');
    const ssize_t count = ::recv(client, message.data(), message.size(), 0);
    if (count <= 0) {
        return;
    }
    message.resize(static_cast<std::size_t>(count));
    ToolCall call;
    const auto json = nlohmann::json::parse(message, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("tool") || !json["tool"].is_string() ||
        !json.contains("arguments") || !json["arguments"].is_array()) {
        call.reply = ToolReply{2, "fake flash tool: malformed request\n"};
    } else {
        call.tool = json["tool"].get<std::string>();
        for (const auto& argument : json["arguments"]) {
            call.arguments.push_back(argument.is_string() ? argument.get<std::string>() : argument.dump());
        }
        std::optional<ToolReply> forced;
        {
            std::unique_lock lock(mutex);
            ++arrivals;
            arrived.notify_all();
            const auto released = releases;
            arrived.wait_for(lock, 60s, [&] { return !holding || releases != released; });
            if (auto found = overrides.find(call.tool); found != overrides.end()) {
                forced = found->second;
            }
        }
        call.reply = forced ? *forced : handler(call.tool, call.arguments);
    }
    nlohmann::ordered_json reply;
    reply["exitStatus"] = call.reply.exitStatus;
    reply["output"] = call.reply.output;
    const std::string text = reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // Recorded before the tool has its answer: once the tool has ended, and the service with it has
    // replied, the call is there to be read.
    {
        std::lock_guard lock(mutex);
        recorded.push_back(std::move(call));
    }
    arrived.notify_all();
    [[maybe_unused]] auto sent =
        ::send(client, text.data(), std::min(text.size(), kToolMessageLimit), MSG_NOSIGNAL);
}

std::vector<ToolCall> FlashToolServer::calls() const {
    std::lock_guard lock(mutex);
    return recorded;
}

bool FlashToolServer::waitForCalls(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, timeout, [&] { return recorded.size() >= count; });
}

void FlashToolServer::holdReplies(bool hold) {
    {
        std::lock_guard lock(mutex);
        holding = hold;
        releases += hold ? 0 : 1;
    }
    arrived.notify_all();
}

bool FlashToolServer::waitForArrivals(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, timeout, [&] { return arrivals >= count; });
}

void FlashToolServer::overrideReply(const std::string& tool, ToolReply reply) {
    std::lock_guard lock(mutex);
    overrides[tool] = std::move(reply);
}

nlohmann::ordered_json FlashToolServer::stateJson() const {
    nlohmann::ordered_json calls = nlohmann::ordered_json::array();
    for (const auto& call : this->calls()) {
        nlohmann::ordered_json entry;
        entry["tool"] = call.tool;
        entry["arguments"] = call.arguments;
        entry["exitStatus"] = call.reply.exitStatus;
        entry["output"] = call.reply.output;
        calls.push_back(std::move(entry));
    }
    return calls;
}

}  // namespace brisel::test
