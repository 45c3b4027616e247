// A websocket server of the service on a free loopback port, with the route table of the frame.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/controller_registry.h"
#include "frame/request_dispatcher.h"
#include "frame/websocket_server.h"
#include "support/eventually.h"
#include "support/log_capture.h"
#include "support/websocket_test_client.h"

namespace brisel::test_support {

inline constexpr std::chrono::milliseconds kReplyWait{10000};

// The messages of `lines` ("[time] level: message" without its head) that begin with `prefix`, in
// order.
inline std::vector<std::string> loggedMessages(const std::vector<LogCapture::Line>& lines,
                                               std::string_view prefix = "") {
    std::vector<std::string> messages;
    for (const auto& line : lines) {
        const std::string marker = "] " + std::string(common::levelName(line.level)) + ": ";
        const auto at = line.text.find(marker);
        std::string message = at == std::string::npos ? line.text : line.text.substr(at + marker.size());
        if (message.rfind(prefix, 0) == 0) {
            messages.push_back(std::move(message));
        }
    }
    return messages;
}

// The messages of the captured lines that begin with `prefix`, in order.
inline std::vector<std::string> loggedMessages(const LogCapture& log, std::string_view prefix = "") {
    return loggedMessages(log.lines(), prefix);
}

// How many messages of `lines` are exactly `message`.
inline std::size_t countLogged(const std::vector<LogCapture::Line>& lines, std::string_view message) {
    std::size_t count = 0;
    for (const auto& logged : loggedMessages(lines)) {
        count += logged == message ? 1U : 0U;
    }
    return count;
}

// How many captured messages are exactly `message`.
inline std::size_t countLogged(const LogCapture& log, std::string_view message) {
    return countLogged(log.lines(), message);
}

class WebSocketServerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        auto registry =
            std::make_shared<frame::ControllerRegistry>(frame::ControllerRegistry::withFrameControllers());
        addControllers(*registry);
        server = std::make_unique<frame::WebSocketServer>(frame::routingConnectHandler(registry),
                                                          handshakeCheck());
        auto started = server->start(0);
        ASSERT_TRUE(started.has_value());
        port = *started;
    }

    void TearDown() override { server->stop(); }

    // Lets a test register controllers before the server starts.
    virtual void addControllers(frame::ControllerRegistry& /*registry*/) {}
    // The server's handshake check: every origin served, whatever the build's deployment lists.
    virtual frame::HandshakeCheck handshakeCheck() const { return frame::HandshakeCheck({}); }

    // A client connected from `bindAddress` (any local address when empty) to `host`; fails the test
    // when the handshake fails.
    WebSocketTestClient connect(const std::string& host = "127.0.0.1", const std::string& bindAddress = "") {
        auto client = WebSocketTestClient::connect(host, port, bindAddress);
        EXPECT_TRUE(client.has_value()) << (client ? "" : client.error());
        if (!client) {
            throw std::runtime_error("websocket client could not connect");
        }
        return std::move(*client);
    }

    // Waits until the server lists `count` served connections; the failure tells how many it listed.
    ::testing::AssertionResult waitForConnections(std::size_t count) const {
        return eventuallyEquals([&] { return server->connections().size(); }, count, kReplyWait);
    }

    // Waits until `message` has been logged exactly `times` times or more.
    bool waitForLogged(std::string_view message, std::size_t times) const {
        return log.waitUntil(
            [&](const std::vector<LogCapture::Line>& lines) { return countLogged(lines, message) >= times; },
            kReplyWait);
    }

    LogCapture log;
    std::unique_ptr<frame::WebSocketServer> server;
    std::uint16_t port = 0;
};

}  // namespace brisel::test_support
