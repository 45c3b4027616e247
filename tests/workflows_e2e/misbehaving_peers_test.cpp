// Peers that are no boards, end to end: a host of the network that floods the real service's board port
// leaves a small log and little memory behind, no peer's text starts a log line, and a host that
// trickles bytes into the board port keeps a real board out for a few seconds only.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "device/wifi/wifi_settings.h"
#include "support/eventually.h"
#include "support/wifi_test_board.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;

// A field of /proc/<pid>/status in bytes ("VmRSS", "VmHWM"); 0 when it cannot be read.
std::uintmax_t memoryField(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stoull(line.substr(field.size() + 1)) * 1024;
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

}  // namespace
}  // namespace brisel::test
