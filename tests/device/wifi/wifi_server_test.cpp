#include "device/wifi/wifi_server.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/paths.h"
#include "device/wifi/wifi_device.h"
#include "support/eventually.h"
#include "support/log_capture.h"
#include "support/websocket_fixture.h"
#include "support/wifi_presence_recorder.h"
#include "support/wifi_test_board.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;
using test::WifiTestBoard;
using test_support::eventually;

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

class WifiServerTest : public ::testing::Test {
  protected:
    void SetUp() override { startServer(WifiTimings{}); }

    void startServer(WifiTimings timings) {
        server.reset();
        WifiServerSettings settings;
        settings.port = 0;
        settings.scope = WifiListenScope::loopbackOnly;
        settings.timings = timings;
        settings.notifyPresence = presence.notifier();
        server = std::make_unique<WifiServer>(settings);
        ASSERT_TRUE(server->start());
    }

    WifiTestBoard connectBoard() {
        auto board = WifiTestBoard::connect(server->port());
        EXPECT_TRUE(board.has_value());
        return std::move(*board);
    }

    // Connects a board and waits until the server holds its connection.
    std::pair<WifiTestBoard, std::shared_ptr<WifiServerConnection>> connectHeldBoard() {
        WifiTestBoard board = connectBoard();
        EXPECT_TRUE(eventually([&] { return server->getConnection() != nullptr; }));
        return {std::move(board), server->getConnection()};
    }

    test::WifiPresenceRecorder presence;
    std::unique_ptr<WifiServer> server;
};

TEST_F(WifiServerTest, FirstReadTakesAtMostTenBytesAndTheDecidingChunkIsNotBuffered) {
    auto [board, connection] = connectHeldBoard();
    connection->startSave();
    ASSERT_TRUE(
        board.send("VLK_STLE\x01\x02"
                   "0123456789"));
    ASSERT_TRUE(eventually([&] { return connection->dataBuffer().size() >= 10; }));
    EXPECT_EQ(connection->getCurrentData(), bytes("0123456789"));
    EXPECT_EQ(connection->modeDetected(), WifiMode::datacollect);
}

TEST_F(WifiServerTest, LargeDataArrivesWholeAfterTheMode) {
    auto [board, connection] = connectHeldBoard();
    connection->startSave();
    ASSERT_TRUE(board.send("VLK_STLE\x01\x02"));
    ASSERT_TRUE(eventually([&] { return connection->modeDetected() == WifiMode::datacollect; }));
    std::vector<std::uint8_t> stream(100000);
    for (std::size_t i = 0; i < stream.size(); ++i) {
        stream[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(board.send(stream));
    std::vector<std::uint8_t> received;
    ASSERT_TRUE(eventually([&] {
        const auto taken = connection->getCurrentData();
        received.insert(received.end(), taken.begin(), taken.end());
        return received.size() >= stream.size();
    }));
    EXPECT_EQ(received, stream);
}

TEST_F(WifiServerTest, ClassificationBoardFillsTheMailbox) {
    auto [board, connection] = connectHeldBoard();
    ASSERT_TRUE(board.send("PRED: 0"));
    ASSERT_TRUE(eventually([&] { return connection->modeDetected() == WifiMode::classify; }));
    ASSERT_TRUE(board.send("PRED: 2, 0.1,0.9"));
    std::string prediction;
    ASSERT_TRUE(eventually([&] {
        prediction = connection->getCurrentPrediction();
        return prediction != "" && prediction != "PENDING";
    }));
    EXPECT_EQ(prediction, "PRED: 2, 0.1,0.9");
    EXPECT_EQ(connection->getCurrentPrediction(), "PENDING");
}

TEST_F(WifiServerTest, SecondBoardIsRefusedAndTheFirstIsUnaffected) {
    auto [first, connection] = connectHeldBoard();
    connection->startSave();
    ASSERT_TRUE(first.send("VLK_STLE\x01\x02"));
    ASSERT_TRUE(eventually([&] { return connection->modeDetected() == WifiMode::datacollect; }));

    WifiTestBoard second = connectBoard();
    EXPECT_TRUE(second.waitForClose(5s));
    EXPECT_EQ(server->connections(), 1U);
    EXPECT_EQ(server->getConnection(), connection);

    ASSERT_TRUE(first.send("still here"));
    ASSERT_TRUE(eventually([&] { return connection->dataBuffer().size() >= 10; }));
    EXPECT_EQ(connection->getCurrentData(), bytes("still here"));

    first.close();
    ASSERT_TRUE(eventually([&] { return server->connections() == 0; }));
    auto [third, next] = connectHeldBoard();
    EXPECT_GT(next->id(), connection->id());
}

TEST_F(WifiServerTest, BoardClosingOrResettingIsCleanedUpAlike) {
    for (const bool withReset : {false, true}) {
        SCOPED_TRACE(withReset ? "RST" : "FIN");
        const std::size_t noticesBefore = presence.all().size();
        auto [board, connection] = connectHeldBoard();
        connection->startSave();
        ASSERT_TRUE(board.send("VLK_STLE\x01\x02"));
        ASSERT_TRUE(eventually([&] { return connection->modeDetected() == WifiMode::datacollect; }));
        ASSERT_TRUE(board.send("unread sample bytes"));
        ASSERT_TRUE(eventually([&] { return connection->dataBuffer().size() > 0; }));

        if (withReset) {
            board.reset();
        } else {
            board.close();
        }
        ASSERT_TRUE(eventually([&] { return server->connections() == 0; }));
        EXPECT_TRUE(connection->hasEnded());
        EXPECT_EQ(connection->dataBuffer().size(), 0U);
        EXPECT_EQ(connection->getCurrentPrediction(), "");
        const auto notices = presence.waitFor(noticesBefore + 3, 5s);
        EXPECT_EQ(
            std::vector<bool>(notices.begin() + static_cast<std::ptrdiff_t>(noticesBefore), notices.end()),
            (std::vector<bool>{true, true, false}));
    }
}

TEST_F(WifiServerTest, BoardWithoutModeLeavesWithoutAbsenceNotice) {
    auto [board, connection] = connectHeldBoard();
    ASSERT_TRUE(board.send("hello"));
    board.close();
    ASSERT_TRUE(eventually([&] { return server->connections() == 0; }));
    EXPECT_EQ(presence.all(), (std::vector<bool>{true, true}));
}

TEST_F(WifiServerTest, ServerWithoutNotifierServesBoards) {
    server.reset();
    WifiServerSettings settings;
    settings.port = 0;
    settings.scope = WifiListenScope::loopbackOnly;
    server = std::make_unique<WifiServer>(settings);
    ASSERT_TRUE(server->start());
    auto [board, connection] = connectHeldBoard();
    ASSERT_TRUE(board.send("PRED: 1"));
    board.close();
    EXPECT_TRUE(eventually([&] { return server->connections() == 0; }));
}

class WifiLivenessTest : public WifiServerTest {
  protected:
    void SetUp() override {
        WifiTimings timings;
        timings.livenessDelay = 400ms;
        timings.idleLimit = 250ms;
        startServer(timings);
    }
};

TEST_F(WifiLivenessTest, SilentBoardIsEndedWithoutAbsenceNotice) {
    auto [board, connection] = connectHeldBoard();
    EXPECT_TRUE(board.waitForClose(5s));
    EXPECT_TRUE(eventually([&] { return server->connections() == 0; }));
    EXPECT_EQ(presence.all(), (std::vector<bool>{true, true}));
}

TEST_F(WifiLivenessTest, ChattyBoardIsKept) {
    auto [board, connection] = connectHeldBoard();
    ASSERT_TRUE(board.send("VLK_STLE\x01\x02"));
    const auto until = std::chrono::steady_clock::now() + 1s;
    while (std::chrono::steady_clock::now() < until) {
        ASSERT_TRUE(board.send("tick"));
        std::this_thread::sleep_for(30ms);
    }
    EXPECT_FALSE(connection->hasEnded());
    EXPECT_EQ(server->connections(), 1U);
}

TEST_F(WifiLivenessTest, RunningTransferIsExempt) {
    auto [board, connection] = connectHeldBoard();
    connection->setFlashing(true);
    EXPECT_FALSE(board.waitForClose(1s));
    EXPECT_EQ(server->connections(), 1U);
    connection->setFlashing(false);
    EXPECT_TRUE(board.waitForClose(5s));
}

// A peer that is no board cannot hold the board slot: without a mode marker, a connection is closed
// after the byte bound or the time bound, whichever comes first, unless a transfer runs on it.
class WifiUndecidedTest : public WifiServerTest {
  protected:
    void SetUp() override {
        WifiTimings timings;
        timings.undecidedLimit = 300ms;
        startServer(timings);
    }
};

TEST_F(WifiUndecidedTest, AConnectionWithoutMarkerIsClosedByItsBytesOrItsTime) {
    struct Row {
        const char* label;
        std::string sent;
        bool flashing;
        std::string logged;  // the closing line; empty when the connection is kept
    };
    const std::vector<Row> rows = {
        {"a flood", "\nFORGED LOG LINE\n" + std::string(kUndecidedByteLimit, 'A'), false,
         " bytes, so it is no board; closed to leave the board slot free (a board sends its data or "
         "predictions as soon as it connects). First bytes: \"\\u{0A}FORGED LOG LINE\\u{0A}AAAA"},
        {"a byte, then nothing", "A", false,
         "showed no mode marker (\"VLK_STLE\" or \"PRED:\") within 300 ms, so it is no board"},
        {"a marker that ends past the byte bound", std::string(kUndecidedByteLimit - 3, '.') + "PRED: 1",
         false, ""},
        {"a running transfer", "A", true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        test_support::LogCapture log;
        auto [board, connection] = connectHeldBoard();
        connection->setFlashing(row.flashing);
        ASSERT_TRUE(board.send(row.sent));
        EXPECT_EQ(board.waitForClose(1s), !row.logged.empty());
        if (row.logged.empty()) {
            EXPECT_FALSE(connection->hasEnded());
            connection->setFlashing(false);
            connection->connectionDidEnd();
            continue;
        }
        ASSERT_TRUE(log.waitFor(" did end", 5s));
        EXPECT_EQ(log.count(row.logged), 1U);
        for (const auto& line : log.lines()) {
            EXPECT_EQ(line.text.find_first_of("\r\n"), std::string::npos) << line.text;
        }
        EXPECT_TRUE(eventually([&] { return server->connections() == 0; }));
    }
}

TEST_F(WifiServerTest, ServerEndsAConnectionOnRequestFromAnotherThread) {
    auto [board, connection] = connectHeldBoard();
    ASSERT_TRUE(board.send("PRED: 1"));
    ASSERT_TRUE(eventually([&] { return connection->modeDetected() == WifiMode::classify; }));
    connection->connectionDidEnd();
    EXPECT_EQ(server->connections(), 0U);
    EXPECT_TRUE(board.waitForClose(5s));
    EXPECT_EQ(presence.waitFor(3, 5s), (std::vector<bool>{true, true, false}));
}

TEST_F(WifiServerTest, BoardHandleFollowsTheHeldConnection) {
    std::shared_ptr<WifiServer> shared(std::move(server));
    {
        WifiDevice none(shared);
        EXPECT_FALSE(none.deviceOpen());
    }
    auto board = WifiTestBoard::connect(shared->port());
    ASSERT_TRUE(board);
    ASSERT_TRUE(eventually([&] { return shared->connections() == 1; }));
    WifiDevice handle(shared);
    ASSERT_TRUE(handle.deviceOpen());
    EXPECT_TRUE(handle.isConnectionAlive());
    board->close();
    ASSERT_TRUE(eventually([&] { return shared->connections() == 0; }));
    EXPECT_FALSE(handle.isConnectionAlive());
    EXPECT_EQ(handle.wifiServerConnection(), nullptr);
}

TEST(WifiServerStartTest, PortInUseIsAnError) {
    WifiServerSettings settings;
    settings.port = 0;
    settings.scope = WifiListenScope::loopbackOnly;
    WifiServer first(settings);
    ASSERT_TRUE(first.start());
    settings.port = first.port();
    WifiServer second(settings);
    const auto started = second.start();
    ASSERT_FALSE(started);
    EXPECT_NE(started.error().message.find(std::to_string(first.port())), std::string::npos);
}

TEST_F(WifiServerTest, BoardLifecycleIsLogged) {
    test_support::LogCapture log;
    auto [board, connection] = connectHeldBoard();
    ASSERT_TRUE(board.send("VLK_STLE\x01\x02"));
    ASSERT_TRUE(eventually([&] { return connection->modeDetected() == WifiMode::datacollect; }));
    board.close();
    const std::string id = std::to_string(connection->id());
    ASSERT_TRUE(log.waitFor("WIFI: WifiServer did close connection " + id, 5s));
    const auto lines = test_support::loggedMessages(log, "WIFI: ");
    const std::vector<std::string> expected = {
        "WIFI: connection " + id + " will start",
        "WIFI: connection " + id + " ready",
        "WIFI: WifiServer did open connection " + id + " with device: " + connection->remoteEndpoint(),
        "WIFI: connection " + id + " did receive, data: 10 bytes string: VLK_STLE\\u{01}\\u{02}",
        "WIFI: device mode: DATA COLLECTION",
        "WIFI: connection " + id + " did end",
        "WIFI: WifiServer did close connection " + id,
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(connection->remoteEndpoint().rfind("127.0.0.1:", 0), 0U);
}

TEST(StartWifiServerTest, FailedStartIsLoggedAndTheServiceGoesOn) {
    WifiServerSettings settings;
    settings.port = 0;
    settings.scope = WifiListenScope::loopbackOnly;
    WifiServer occupant(settings);
    ASSERT_TRUE(occupant.start());

    test_support::LogCapture log;
    settings.port = occupant.port();
    startWifiServer(settings);
    EXPECT_TRUE(log.contains("WIFI: server didn't start with error "));
    EXPECT_NE(getWifiServer(), nullptr);
    EXPECT_FALSE(wifiConnectionExists());

    settings.port = 0;
    startWifiServer(settings);
    auto board = WifiTestBoard::connect(getWifiServer()->port());
    ASSERT_TRUE(board);
    ASSERT_TRUE(eventually([] { return wifiConnectionExists(); }));
    const WifiDevice handle;
    EXPECT_TRUE(handle.deviceOpen());
    EXPECT_EQ(handle.wifiServerConnection(), wifiConnection());
}

TEST(StartWifiServerTest, ServiceSettingsUseThePrivateTemporaryFolder) {
    const auto settings = serviceWifiServerSettings({});
    EXPECT_EQ(settings.port, 6012);
    EXPECT_EQ(settings.scope, WifiListenScope::allInterfaces);
    EXPECT_EQ(settings.dumpFolder, common::privateTempFolder().value());
}

}  // namespace
}  // namespace brisel::device
