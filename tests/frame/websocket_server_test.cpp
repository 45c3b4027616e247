#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <csignal>

#include "common/child_process.h"
#include "common/peer_text.h"
#include "common/running_process_manager.h"
#include "frame/feature_replies.h"
#include "frame/library_log_bridge.h"
#include "frame/replies.h"
#include "support/file_contents.h"
#include "support/websocket_fixture.h"

namespace brisel::frame {
namespace {

using test_support::countLogged;
using test_support::kReplyWait;
using test_support::loggedMessages;
using test_support::Opcode;
using test_support::WebSocketTestClient;

constexpr std::string_view kHandshakeReply =
    R"({"command":"handshake","status":"OK","data":{"build":10240000008025}})";
constexpr std::string_view kUnknownTypeReply =
    R"({"command":"error","status":"ERROR","data":{"error":"unknownMessageType"}})";

std::string replyText(WebSocketTestClient& client) {
    auto message = client.receive(kReplyWait);
    return message ? message->payload : std::string("<no reply>");
}

using HandshakeTest = test_support::WebSocketServerFixture;

TEST_F(HandshakeTest, BuildNumbersUpToTheServiceBuildGetTheHandshakeReply) {
    auto client = connect();
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 10240000008025})"));
    EXPECT_EQ(replyText(client), kHandshakeReply);
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 0, "other": "ignored"})"));
    EXPECT_EQ(replyText(client), kHandshakeReply);
}

TEST_F(HandshakeTest, NewerApplicationGetsIncompatibleVersionWithTheNoticeAndStaysConnected) {
    auto client = connect();
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 10240000008026})"));
    std::string escapedNotice;
    for (const char c : kOutOfDateNotice) {
        if (c == '"') {
            escapedNotice += '\\';
        }
        escapedNotice += c;
    }
    EXPECT_EQ(
        replyText(client),
        R"({"command":"error","status":"ERROR","data":{"error":"incompatibleVersion","errorMessage":")" +
            escapedNotice + R"("}})");
    const auto lines = loggedMessages(log);
    const auto tooOld = std::find(lines.begin(), lines.end(), "Local version too old, sending error message");
    ASSERT_NE(tooOld, lines.end());
    ASSERT_NE(tooOld + 1, lines.end());
    EXPECT_EQ(*(tooOld + 1), "Sending error to client brisel_core_lib.BriselError");

    ASSERT_TRUE(client.sendText(R"({"buildNumber": 1})"));
    EXPECT_EQ(replyText(client), kHandshakeReply);
}

using RouteTest = test_support::WebSocketServerFixture;

TEST_F(RouteTest, TextsOfNoRequestTypeGetUnknownMessageType) {
    auto client = connect();
    const std::vector<std::string> texts = {"",
                                            "[]",
                                            "not json",
                                            R"({"buildNumber": -1})",
                                            R"({"buildNumber": 1.5})",
                                            R"({"flashRequest": true})"};
    for (const auto& text : texts) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(client.sendText(text));
        EXPECT_EQ(replyText(client), kUnknownTypeReply);
    }
    EXPECT_EQ(countLogged(log, "Failed to decode message from client"), texts.size());
    EXPECT_EQ(countLogged(log, "Sending error to client brisel_core_lib.BriselError"), texts.size());
}

TEST_F(RouteTest, FragmentedTextIsDispatchedOnceAsTheWholeText) {
    auto client = connect();
    ASSERT_TRUE(client.sendFragmentedText({R"({"buildNu)", R"(mber": )", "7}"}));
    EXPECT_EQ(replyText(client), kHandshakeReply);
    EXPECT_FALSE(client.receive(std::chrono::milliseconds(200)).has_value());
    EXPECT_EQ(loggedMessages(log, "Received web socket data: "),
              std::vector<std::string>{R"(Received web socket data: {"buildNumber": 7})"});
}

TEST_F(RouteTest, BinaryMessagesAndInvalidUtf8TextAreIgnoredSilently) {
    auto client = connect();
    ASSERT_TRUE(client.sendBinary(R"({"buildNumber": 1})"));
    ASSERT_TRUE(client.sendText("{\"buildNumber\": 2, \"x\": \"\xC3\x28\"}"));
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 3})"));
    EXPECT_EQ(replyText(client), kHandshakeReply);
    EXPECT_FALSE(client.receive(std::chrono::milliseconds(200)).has_value());
    EXPECT_EQ(loggedMessages(log, "Received web socket data: "),
              std::vector<std::string>{R"(Received web socket data: {"buildNumber": 3})"});
}

TEST_F(RouteTest, TwoMegabyteMessageIsJoinedAndServedAndItsLineIsCut) {
    auto client = connect();
    const std::string padding(2U * 1024U * 1024U, 'x');
    ASSERT_TRUE(
        client.sendText(R"({"buildNumber": 5, "auth_token": "secret", "padding": ")" + padding + R"("})"));
    EXPECT_EQ(replyText(client), kHandshakeReply);
    const std::string masked = R"({"buildNumber": 5, "auth_token": "***", "padding": ")" + padding + R"("})";
    EXPECT_EQ(
        loggedMessages(log, "Received web socket data: "),
        std::vector<std::string>{"Received web socket data: " + masked.substr(0, common::kPeerTextLogLimit) +
                                 "... (" + std::to_string(masked.size()) + " bytes in all)"});
}

TEST_F(RouteTest, CredentialIsMaskedAndLineEndsEscapedInTheReceivedLine) {
    auto client = connect();
    ASSERT_TRUE(client.sendText("{\"buildNumber\": 1, \"auth_token\":\n\"secret-cookie\"}"));
    EXPECT_EQ(replyText(client), kHandshakeReply);
    EXPECT_EQ(loggedMessages(log, "Received web socket data: "),
              std::vector<std::string>{
                  R"(Received web socket data: {"buildNumber": 1, "auth_token":\u{0A}"***"})"});
}

// The websocket thread holds its lines while it serves a message; once the reply has left they reach
// the log file with nothing else logged and no flush.
TEST_F(RouteTest, LinesLoggedWhileServingReachTheLogFileAfterTheReply) {
    ASSERT_TRUE(common::prepareLogFile().has_value());
    auto client = connect();
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 1, "served": "held"})"));
    EXPECT_EQ(replyText(client), kHandshakeReply);
    EXPECT_TRUE(test_support::eventuallySees(
        [] { return test_support::readText(common::logger().stream()->filePath()); },
        [](const std::string& text) {
            return text.find(R"(] info: Received web socket data: {"buildNumber": 1, "served": "held"})") !=
                   std::string::npos;
        },
        "the received line in the log file"));
}

TEST_F(RouteTest, BluetoothRelaysAreNotLogged) {
    auto client = connect();
    ASSERT_TRUE(client.sendText(R"({"saveDataCollectionBluetooth": "nothing to decode"})"));
    EXPECT_EQ(replyText(client), kUnknownTypeReply);
    EXPECT_TRUE(loggedMessages(log, "Received web socket data: ").empty());
}

TEST_F(RouteTest, FeatureRequestWithoutControllerLogsOneErrorAndGetsNoReply) {
    auto client = connect();
    ASSERT_TRUE(client.sendText(R"({"liveClassificationStopRequest": true})"));
    EXPECT_FALSE(client.receive(std::chrono::milliseconds(300)).has_value());
    EXPECT_EQ(loggedMessages(log, "No controller serves ").size(), 1U);
}

using ConnectionListTest = test_support::WebSocketServerFixture;

TEST_F(ConnectionListTest, TwoClientsAreListedInOrderEachWithItsSetUpLines) {
    auto first = connect("127.0.0.1");
    ASSERT_TRUE(waitForConnections(1));
    auto second = connect("::1");
    ASSERT_TRUE(waitForConnections(2));
    ASSERT_TRUE(waitForLogged("Socket opened", 2));
    const auto listed = server->connections();
    EXPECT_EQ(listed[0]->peerAddress(), "127.0.0.1");
    EXPECT_EQ(listed[1]->peerAddress(), "::1");
    EXPECT_EQ(server->getWS(), listed[0]);
    const std::vector<std::string> setUp = {"Socket server started", "Socket connection established",
                                            "Socket opened"};
    std::vector<std::string> expected = setUp;
    expected.insert(expected.end(), setUp.begin(), setUp.end());
    std::vector<std::string> seen;
    for (const auto& message : loggedMessages(log, "Socket ")) {
        seen.push_back(message);
    }
    EXPECT_EQ(seen, expected);

    first.close();
    ASSERT_TRUE(waitForConnections(1));
    EXPECT_EQ(server->getWS()->peerAddress(), "::1");
}

using ReplyWritingTest = test_support::WebSocketServerFixture;

TEST_F(ReplyWritingTest, TextIsSentWithoutSurroundingWhiteSpaceAndControlCharacters) {
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    auto ws = server->getWS();
    ws->write(" {\"a\":1}\n");
    EXPECT_EQ(replyText(client), R"({"a":1})");
    ws->write(" \t\r\n\x01\x7F");
    auto empty = client.receive(kReplyWait);
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->opcode, Opcode::text);
    EXPECT_EQ(empty->payload, "");
}

TEST_F(ReplyWritingTest, EightThreadsRepliesArriveWholeAndInPerThreadOrder) {
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    auto ws = server->getWS();
    constexpr int kThreads = 8;
    constexpr int kRepliesPerThread = 200;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([ws, t] {
            for (int i = 0; i < kRepliesPerThread; ++i) {
                ws->write("{\"thread\":" + std::to_string(t) + ",\"seq\":" + std::to_string(i) +
                          ",\"pad\":\"" + std::string(static_cast<std::size_t>(100 + i), 'p') + "\"}");
            }
        });
    }
    std::vector<int> nextSeq(kThreads, 0);
    int received = 0;
    for (; received < kThreads * kRepliesPerThread; ++received) {
        auto message = client.receive(kReplyWait);
        if (!message) {
            break;
        }
        int thread = -1;
        int seq = -1;
        ASSERT_EQ(std::sscanf(message->payload.c_str(), "{\"thread\":%d,\"seq\":%d", &thread, &seq), 2);
        ASSERT_GE(thread, 0);
        ASSERT_LT(thread, kThreads);
        EXPECT_EQ(seq, nextSeq[static_cast<std::size_t>(thread)]);
        const std::string whole = "{\"thread\":" + std::to_string(thread) +
                                  ",\"seq\":" + std::to_string(seq) + ",\"pad\":\"" +
                                  std::string(static_cast<std::size_t>(100 + seq), 'p') + "\"}";
        EXPECT_EQ(message->payload, whole);
        nextSeq[static_cast<std::size_t>(thread)] = seq + 1;
    }
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_EQ(received, kThreads * kRepliesPerThread);
}

// Frames queued on the websocket thread far faster than the peer reads: several leave in one writable
// callback while the socket takes them, the rest once it drains; all arrive whole and in order.
TEST(WebsocketThreadWritesTest, ManyLargeFramesQueuedAtOnceArriveWholeAndInOrder) {
    constexpr int kFrames = 48;
    const auto frameText = [](int index) {
        return std::to_string(index) + ":" + std::string(256 * 1024, static_cast<char>('a' + index % 26));
    };
    WebSocketServer server(
        [&frameText](const std::shared_ptr<WebSocket>& connection) {
            connection->onOpen([&frameText](const std::shared_ptr<WebSocket>& opened) {
                opened->onText([&frameText](const std::shared_ptr<WebSocket>& sender, std::string_view) {
                    for (int index = 0; index < kFrames; ++index) {
                        sender->write(frameText(index));
                    }
                });
            });
        },
        HandshakeCheck({}));
    const auto port = server.start(0);
    ASSERT_TRUE(port.has_value());
    auto client = WebSocketTestClient::connect("127.0.0.1", *port);
    ASSERT_TRUE(client.has_value());
    ASSERT_TRUE(client->sendText("send them"));
    for (int index = 0; index < kFrames; ++index) {
        const auto message = client->receive(kReplyWait);
        ASSERT_TRUE(message.has_value()) << "frame " << index;
        ASSERT_TRUE(message->payload == frameText(index)) << "frame " << index << " differs";
    }
    server.stop();
}

// The library's log routed into the service log before the server starts, as the service does.
class RoutedLibraryLogTest : public test_support::WebSocketServerFixture {
  protected:
    void SetUp() override {
        routeLibraryLogToService();
        WebSocketServerFixture::SetUp();
    }
};

TEST_F(RoutedLibraryLogTest, SendersOnOtherThreadsDoNotRaceTheLibraryLog) {
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    auto ws = server->getWS();
    constexpr int kThreads = 4;
    constexpr int kRepliesPerThread = 50;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&ws] {
            for (int i = 0; i < kRepliesPerThread; ++i) {
                ws->write(R"({"n":1})");
            }
        });
    }
    int received = 0;
    while (received < kThreads * kRepliesPerThread && client.receive(kReplyWait)) {
        ++received;
    }
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_EQ(received, kThreads * kRepliesPerThread);
}

TEST_F(ReplyWritingTest, ReplyAfterThePeerClosedReturnsAtOnce) {
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    auto ws = server->getWS();
    client.close();
    ASSERT_TRUE(waitForConnections(0));
    const auto before = std::chrono::steady_clock::now();
    ws->write(R"({"late":true})");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_EQ(ws->state(), WebSocketState::disconnected);
}

TEST_F(ReplyWritingTest, SendersWritingWhileThePeerClosesAreReleased) {
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    auto ws = server->getWS();
    std::atomic<bool> closed{false};
    std::atomic<int> writing{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&] {
            bool counted = false;
            while (ws->state() == WebSocketState::connected) {
                ws->write(std::string(4096, 'r'));
                if (!std::exchange(counted, true)) {
                    ++writing;
                }
            }
            closed.store(true);
        });
    }
    // Every sender has had a reply through; the next ones pile up behind the unread socket.
    EXPECT_TRUE(test_support::eventuallyEquals([&] { return writing.load(); }, 4, kReplyWait));
    client.close();
    const auto before = std::chrono::steady_clock::now();
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_TRUE(closed.load());
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
}

TEST_F(ReplyWritingTest, ReplyHoldingNaNSendsNothingAndLogsOneLine) {
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    auto ws = server->getWS();
    BriselDataCollectionResponse payload;
    payload.data.duration = std::numeric_limits<double>::quiet_NaN();
    ws->write(featureReply(payload));
    EXPECT_FALSE(client.receive(std::chrono::milliseconds(300)).has_value());
    EXPECT_EQ(countLogged(log, "Could not JSON serialize device manager string before web socket send"), 1U);
}

TEST_F(ReplyWritingTest, CloseCallbacksRunOnceUnlessRemoved) {
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    auto ws = server->getWS();
    std::atomic<int> kept{0};
    std::atomic<int> removed{0};
    ws->addCloseCallback([&] { ++kept; });
    const auto id = ws->addCloseCallback([&] { ++removed; });
    ws->removeCloseCallback(id);
    client.close();
    ASSERT_TRUE(waitForConnections(0));
    ASSERT_TRUE(log.waitFor("Connection closed", kReplyWait));
    EXPECT_EQ(kept.load(), 1);
    EXPECT_EQ(removed.load(), 0);
    ws->addCloseCallback([&] { ++kept; });
    EXPECT_EQ(kept.load(), 1);
}

TEST_F(ReplyWritingTest, DisconnectClosesTheConnection) {
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    server->getWS()->disconnect();
    EXPECT_TRUE(client.waitForClose(kReplyWait));
    EXPECT_TRUE(waitForConnections(0));
}

}  // namespace
}  // namespace brisel::frame

namespace brisel::frame {
namespace {

using test_support::countLogged;
using test_support::kReplyWait;

// A `sleep` child held as the process in flight; cleared again when the test ends.
class HeldChild {
  public:
    HeldChild() {
        auto spawned = common::ChildProcess::spawn({"/bin/sleep",
                                                    {"30"},
                                                    std::nullopt,
                                                    common::OutputHandling::inherit,
                                                    common::OutputHandling::inherit,
                                                    common::InputHandling::inherit,
                                                    std::nullopt});
        EXPECT_TRUE(spawned.has_value());
        if (spawned) {
            child = *spawned;
            common::RunningProcessManager::shared().setInFlightProcess(child);
        }
    }
    ~HeldChild() {
        common::RunningProcessManager::shared().setInFlightProcess(nullptr);
        if (child) {
            child->terminate();
            child->waitForExit(std::chrono::seconds(10));
        }
    }
    HeldChild(const HeldChild&) = delete;
    HeldChild& operator=(const HeldChild&) = delete;

    std::shared_ptr<common::ChildProcess> child;
};

using ProcessInFlightTest = test_support::WebSocketServerFixture;

TEST_F(ProcessInFlightTest, ClosingAServedConnectionEndsTheHeldChildWithSigterm) {
    HeldChild held;
    ASSERT_TRUE(held.child);
    auto client = connect();
    ASSERT_TRUE(waitForConnections(1));
    client.close();
    const auto exit = held.child->waitForExit(kReplyWait);
    ASSERT_TRUE(exit.has_value());
    EXPECT_EQ(*exit, (common::ProcessExit{common::ExitKind::killedBySignal, SIGTERM}));
    ASSERT_TRUE(waitForLogged("Connection closed", 1));
    // A later connection's close comes after everything the first one's close did.
    auto later = connect();
    ASSERT_TRUE(waitForConnections(1));
    later.close();
    ASSERT_TRUE(waitForLogged("Connection closed", 2));
    EXPECT_EQ(countLogged(log, "Connection closed"), 2U);
    EXPECT_EQ(loggedMessages(log, "Terminating process ").size(), 1U);
}

TEST_F(ProcessInFlightTest, RefusedPeerIsClosedUnlistedAndCannotEndTheHeldChild) {
    HeldChild held;
    ASSERT_TRUE(held.child);
    auto refused = connect("127.0.0.1", "127.0.0.2");
    ASSERT_TRUE(waitForLogged("Socket opened", 1));
    EXPECT_EQ(server->getWS(), nullptr);
    EXPECT_TRUE(server->connections().empty());

    ASSERT_TRUE(refused.sendMessages({R"({"buildNumber": 0})", R"({"buildNumber": 0})"}));
    EXPECT_TRUE(refused.waitForClose(kReplyWait));
    ASSERT_TRUE(waitForLogged("Connection closed", 1));
    EXPECT_EQ(countLogged(log, "Host 127.0.0.2 attempted to connect, dropping connection"), 2U);
    EXPECT_TRUE(loggedMessages(log, "Received web socket data: ").empty());
    EXPECT_FALSE(held.child->waitForExit(std::chrono::milliseconds(200)).has_value());
    EXPECT_TRUE(loggedMessages(log, "Terminating process ").empty());

    auto served = connect();
    ASSERT_TRUE(served.sendText(R"({"buildNumber": 0})"));
    EXPECT_TRUE(served.receive(kReplyWait).has_value());
    EXPECT_TRUE(held.child->waitForExit(kReplyWait).has_value())
        << "the handshake clears the process in flight";
}

}  // namespace
}  // namespace brisel::frame

namespace brisel::frame {
namespace {

using test_support::HandshakeFields;
using test_support::kClosedWithoutReply;
using test_support::kReplyWait;

TEST(HandshakeCheckTest, ServesTheLoopbackNamesWithOrWithoutThePortAndTheListedOriginsOnly) {
    const HandshakeCheck everyOrigin({});
    const HandshakeCheck listed({"https://studio.example.com", "https://eu.studio.example.com"});
    struct Row {
        std::optional<std::string_view> host;
        std::optional<std::string_view> origin;
        bool servedByEveryOrigin;
        bool servedByListed;
    };
    const std::vector<Row> rows = {
        {"localhost:4751", "https://studio.example.com", true, true},
        {"127.0.0.1:4751", "https://eu.studio.example.com", true, true},
        {"[::1]:4751", "https://studio.example.com", true, true},
        {"localhost", "https://studio.example.com", true, true},
        {"[::1]", std::nullopt, true, false},
        {"127.0.0.1:4751", "https://evil.example", true, false},
        {"127.0.0.1:4751", "https://studio.example.com.evil.example", true, false},
        {"127.0.0.1:4751", "null", true, false},
        {"evil.example:4751", "https://studio.example.com", false, false},
        {"localhost.evil.example:4751", std::nullopt, false, false},
        {"LOCALHOST:4751", std::nullopt, false, false},
        {"127.0.0.1:4752", std::nullopt, false, false},
        {"127.0.0.1:4751:4751", std::nullopt, false, false},
        {"::1", std::nullopt, false, false},
        {"", std::nullopt, false, false},
        {std::nullopt, std::nullopt, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.host.value_or("<no Host>")) + " " +
                     std::string(row.origin.value_or("<no Origin>")));
        EXPECT_EQ(!everyOrigin.refusal(row.host, row.origin, 4751).has_value(), row.servedByEveryOrigin);
        EXPECT_EQ(!listed.refusal(row.host, row.origin, 4751).has_value(), row.servedByListed);
    }
    EXPECT_EQ(everyOrigin.refusal(std::string_view("evil\x1b[2J\"x", 10), std::nullopt, 4751),
              R"(Host "evil\u{1B}[2J\"x" is not a loopback name of this machine)");
}

class RefusedHandshakeTest : public test_support::WebSocketServerFixture {
  protected:
    HandshakeCheck handshakeCheck() const override { return HandshakeCheck({"https://studio.example.com"}); }
};

TEST_F(RefusedHandshakeTest, GetsNoReplyIsLoggedOnceAndLeavesTheOtherConnectionsAndTheProcessInFlight) {
    const std::string portSuffix = ":" + std::to_string(port);
    const std::string listedOrigin = "https://studio.example.com";
    auto first = WebSocketTestClient::connect("127.0.0.1", port, "", {std::nullopt, listedOrigin});
    ASSERT_TRUE(first.has_value()) << first.error();
    ASSERT_TRUE(waitForConnections(1));
    HeldChild held;
    ASSERT_TRUE(held.child);

    struct Row {
        HandshakeFields fields;
        std::string refusal;  // empty when served
    };
    const std::vector<Row> rows = {
        {{"localhost" + portSuffix, listedOrigin}, ""},
        {{"[::1]" + portSuffix, listedOrigin}, ""},
        {{"evil.example" + portSuffix, listedOrigin},
         R"(Host "evil.example)" + portSuffix + R"(" is not a loopback name of this machine)"},
        {{"", listedOrigin}, "the request names no Host"},
        {{std::nullopt, "https://evil.example"},
         R"(Origin "https://evil.example" is not one of the web application's origins)"},
        {{std::nullopt, std::nullopt}, "the request names no Origin"},
    };
    std::vector<std::string> expectedLines;
    std::vector<WebSocketTestClient> served;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fields.host.value_or("<default Host>"));
        auto client = WebSocketTestClient::connect("127.0.0.1", port, "", row.fields);
        if (row.refusal.empty()) {
            ASSERT_TRUE(client.has_value()) << client.error();
            served.push_back(std::move(*client));
        } else {
            ASSERT_FALSE(client.has_value());
            EXPECT_EQ(client.error(), kClosedWithoutReply);
            expectedLines.push_back("Host 127.0.0.1 attempted to connect, dropping connection: " +
                                    row.refusal);
        }
    }
    ASSERT_TRUE(log.waitUntil(
        [&](const auto& lines) { return loggedMessages(lines, "Host ").size() >= expectedLines.size(); },
        kReplyWait));
    EXPECT_EQ(loggedMessages(log, "Host "), expectedLines);
    EXPECT_EQ(countLogged(log, "Socket opened"), 1U + served.size());
    EXPECT_EQ(countLogged(log, "Connection closed"), 0U);
    EXPECT_EQ(common::RunningProcessManager::shared().inFlightProcess(), held.child);

    ASSERT_TRUE(first->sendText(R"({"buildNumber": 0})"));
    EXPECT_EQ(replyText(*first), kHandshakeReply);
}

}  // namespace
}  // namespace brisel::frame
