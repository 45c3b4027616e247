#include "device/wifi/wifi_peer_log_budget.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log_capture.h"

namespace brisel::device {
namespace {

using Budget = WifiPeerLogBudget;
using namespace std::chrono_literals;

// A window of a peer that connects over and over beside a board: the peer's first few connections
// (taken, and turned away) are logged, the others are summed up in one line when the window is over,
// and the next window starts afresh.
TEST(WifiPeerLogBudgetTest, AnAddressHasItsFirstFewConnectionsLoggedAndTheRestCountedOnceAMinute) {
    test_support::LogCapture log;
    Budget budget;
    const auto start = Budget::Clock::now();
    std::vector<bool> taken;
    std::vector<bool> turnedAway;
    for (int connection = 0; connection < 6; ++connection) {
        taken.push_back(budget.admit("10.0.0.7", ConnectionArrival::taken, start + connection * 1s));
        turnedAway.push_back(
            budget.admit("10.0.0.7", ConnectionArrival::turnedAway, start + connection * 1s));
    }
    EXPECT_TRUE(budget.admit("10.0.0.9", ConnectionArrival::taken, start + 20s))
        << "the board's address has a budget of its own";
    std::vector<bool> expected(6, true);
    expected.back() = false;
    EXPECT_EQ(taken, expected);
    EXPECT_EQ(turnedAway, expected);
    EXPECT_EQ(budget.summaryDue(), start + Budget::kWindow);

    budget.endWindowIfOver(start + Budget::kWindow - 1ms);
    EXPECT_FALSE(log.contains("were left out"));
    budget.endWindowIfOver(start + Budget::kWindow);
    ASSERT_EQ(log.count("were left out"), 1U);
    EXPECT_TRUE(
        log.contains("notice: WIFI: the lines of 2 more connections from 10.0.0.7 in the last minute "
                     "were left out of the log (only the first 5 taken and 5 turned away of an address "
                     "are logged each minute)"));
    EXPECT_EQ(budget.summaryDue(), std::nullopt);
    EXPECT_TRUE(budget.admit("10.0.0.7", ConnectionArrival::taken, start + Budget::kWindow + 1s));
}

TEST(WifiPeerLogBudgetTest, AddressesBeyondTheTrackedOnesShareOneCount) {
    test_support::LogCapture log;
    Budget budget;
    const auto start = Budget::Clock::now();
    for (std::size_t address = 0; address < Budget::kTrackedAddresses; ++address) {
        ASSERT_TRUE(budget.admit("fd00::" + std::to_string(address), ConnectionArrival::taken, start));
    }
    EXPECT_FALSE(budget.admit("fd00::ffff", ConnectionArrival::taken, start));
    EXPECT_FALSE(budget.admit("fd00::fffe", ConnectionArrival::turnedAway, start));
    budget.endWindowIfOver(start + Budget::kWindow);
    EXPECT_TRUE(log.contains("the lines of 2 more connections from other addresses"));
}

}  // namespace
}  // namespace brisel::device
