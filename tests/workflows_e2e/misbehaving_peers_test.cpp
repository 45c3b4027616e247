// Peers that are no boards, end to end: a host of the network that floods the real service's board port
// leaves a small log and little memory behind, no peer's text starts a log line, a host that
// trickles bytes into the board port keeps a real board out for a few seconds only, and a host that
// connects and closes in a loop costs few log bytes and few browser messages.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/file_stream.h"
#include "device/wifi/wifi_peer_log_budget.h"
#include "device/wifi/wifi_settings.h"
#include "support/eventually.h"
#include "support/wifi_test_board.h"
#include "workflow_e2e_fixture.h"
#include "workflows/wifi_presence_notice.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;

// A memory field of /proc/<pid>/status in bytes ("VmRSS", "VmHWM"); 0 when it cannot be read.
std::uintmax_t memoryField(pid_t pid, const std::string& field) {
    return test_support::processStatusField(pid, field) * 1024;
}

// The bytes the process has written so far (wchar of /proc/<pid>/io); 0 when it cannot be read.
std::uintmax_t bytesWritten(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    for (std::string key; io >> key;) {
        std::uintmax_t value = 0;
        io >> value;
        if (key == "wchar:") {
            return value;
        }
    }
    return 0;
}

class MisbehavingPeers : public WorkflowEndToEnd {
  protected:
    std::uintmax_t logSize() const {
        return std::filesystem::file_size(service->home() / ".local/share/velko/desktop_client.log");
    }

    bool logHolds(const std::string& fragment, std::chrono::milliseconds limit) const {
        return test_support::eventuallyContains([this] { return service->log(); }, fragment, limit);
    }
};

TEST_F(MisbehavingPeers, AFloodWithoutMarkerIsCutShortAndNoPeerTextStartsALogLine) {
    startService();
    auto client = browser();
    ASSERT_TRUE(client.sendText("{\"buildNumber\": 0}\nFORGED LOG LINE from the browser"));
    ASSERT_TRUE(test_support::receiveContaining(client, "unknownMessageType", 10s));

    const std::uintmax_t logBefore = logSize();
    const std::uintmax_t memoryBefore = memoryField(service->pid(), "VmRSS");
    auto peer = WifiTestBoard::connect(device::kWifiServerPort);
    ASSERT_TRUE(peer);
    const std::size_t sent = peer->flood("\nFORGED LOG LINE\nA\n", 10s);
    EXPECT_TRUE(peer->closedByServer()) << "the peer could flood for 10 s";
    ASSERT_TRUE(logHolds("so it is no board", 10s)) << service->log();
    ASSERT_TRUE(logHolds("WIFI: WifiServer did close connection", 10s));

    const std::uintmax_t logGrowth = logSize() - logBefore;
    const std::uintmax_t memoryGrowth = memoryField(service->pid(), "VmHWM") - memoryBefore;
    RecordProperty("peer_bytes_sent", std::to_string(sent));
    RecordProperty("log_growth_bytes", std::to_string(logGrowth));
    RecordProperty("memory_growth_bytes", std::to_string(memoryGrowth));
    EXPECT_LT(logGrowth, 2U * 1024 * 1024);
    EXPECT_LT(memoryGrowth, 30U * 1000 * 1000);

    std::istringstream log(service->log());
    for (std::string line; std::getline(log, line);) {
        EXPECT_EQ(line.rfind('[', 0), 0U) << line;
    }
    EXPECT_NE(service->log().find("Received web socket data: {\"buildNumber\": 0}\\u{0A}FORGED LOG LINE"),
              std::string::npos);
}

TEST_F(MisbehavingPeers, APeerTricklingBytesKeepsABoardOutForAFewSecondsOnly) {
    startService();
    auto peer = WifiTestBoard::connect(device::kWifiServerPort);
    ASSERT_TRUE(peer);
    ASSERT_TRUE(logHolds("WIFI: WifiServer did open connection", 10s));
    // A byte every 4 s: often enough for the liveness check, never a marker.
    auto trickling = std::async(std::launch::async, [&peer] {
        for (int bytes = 0; bytes < 10; ++bytes) {
            if (!peer->send("A") || peer->waitForClose(4s)) {
                return true;
            }
        }
        return false;
    });
    const auto start = std::chrono::steady_clock::now();
    auto& board = simulator->addWifiBoard(device::kWifiServerPort, FirmwarePersonality{},
                                          WifiBoardOptions{.reconnectDelay = 1s});

    ASSERT_TRUE(logHolds("WIFI: device mode: DATA COLLECTION", 15s)) << service->log();
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    RecordProperty("board_waited_ms", std::to_string(waited.count()));
    RecordProperty("board_connections", std::to_string(board.snapshot().connections));
    EXPECT_TRUE(trickling.get()) << "the service never closed the trickling peer";
    EXPECT_TRUE(logHolds("within 5000 ms, so it is no board", 1s));
}

// The loop of a host that connects to the board port and closes at once, on four threads, with the log
// at its size limit; every other connection says "PRED: 1" first, so that presence changes with each.
TEST_F(MisbehavingPeers, AHostConnectingAndClosingInALoopCostsFewLogBytesAndFewBrowserMessages) {
    constexpr int kThreads = 4;
    constexpr int kConnectionsPerThread = 2500;
    constexpr auto kLoopLimit = 3s;
    startService();
    auto client = browser();
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 0})"));
    ASSERT_TRUE(test_support::receiveContaining(client, R"("command":"handshake")", 10s));
    {
        const auto file = service->home() / ".local/share/velko/desktop_client.log";
        std::ofstream log(file, std::ios::binary | std::ios::app);
        log << std::string(common::kLogFileSizeLimit - std::filesystem::file_size(file), '.');
    }

    const std::uintmax_t writtenBefore = bytesWritten(service->pid());
    const auto start = std::chrono::steady_clock::now();
    std::atomic<int> connections{0};
    std::vector<std::thread> loops;
    for (int thread = 0; thread < kThreads; ++thread) {
        loops.emplace_back([&] {
            for (int made = 0;
                 made < kConnectionsPerThread && std::chrono::steady_clock::now() - start < kLoopLimit;
                 ++made) {
                if (auto peer = WifiTestBoard::connect(device::kWifiServerPort)) {
                    if (made % 2 == 1) {
                        peer->send("PRED: 1");
                    }
                    peer->close();
                    ++connections;
                }
            }
        });
    }
    // Meanwhile a second browser connection is served as ever.
    auto second = browser();
    ASSERT_TRUE(second.sendText(R"({"buildNumber": 0})"));
    const auto handshake = test_support::receiveContaining(second, R"("command":"handshake")", 10s);
    for (auto& loop : loops) {
        loop.join();
    }
    EXPECT_TRUE(handshake) << "no handshake reply during the loop";

    // The service may still be taking connections of the loop when it is over: notices come until then.
    std::size_t notices = 0;
    auto lastNotice = start;
    while (client.receive(workflows::kWifiPresenceNoticeInterval + 1s)) {
        ++notices;
        lastNotice = std::chrono::steady_clock::now();
    }
    // The loop's first lines brought the log past the limit: the trim is among the bytes written.
    ASSERT_TRUE(test_support::eventually([&] { return logSize() < common::kLogFileSizeLimit; }));
    const std::uintmax_t written = bytesWritten(service->pid()) - writtenBefore;
    const std::string log = service->log();
    RecordProperty("connections", std::to_string(connections.load()));
    RecordProperty("written_bytes", std::to_string(written));
    RecordProperty("browser_messages", std::to_string(notices));
    EXPECT_GT(connections.load(), 100);
    // One trim at the limit copies the file once; the loop's own lines are a few.
    EXPECT_LT(written, 150U * 1024 * 1024) << connections.load() << " connections";
    EXPECT_LE(notices,
              2 + static_cast<std::size_t>((lastNotice - start) / workflows::kWifiPresenceNoticeInterval));
    EXPECT_LE(test_support::occurrences(log, "WIFI: WifiServer did open connection"),
              device::WifiPeerLogBudget::kLoggedConnectionsPerAddress);
}

}  // namespace
}  // namespace brisel::test
