#include "device/wifi/wifi_peer_log_budget.h"

#include "common/logger.h"

namespace brisel::device {

namespace {

void logLeftOut(std::uint64_t count, const std::string& from) {
    common::logger().notice(
        "WIFI: the lines of " + std::to_string(count) + " more connections from " + from +
        " in the last minute were left out of the log (only the first " +
        std::to_string(WifiPeerLogBudget::kLoggedConnectionsPerAddress) + " taken and " +
        std::to_string(WifiPeerLogBudget::kLoggedConnectionsPerAddress) +
        " turned away of an address are logged each minute); a board connects once and stays "
        "connected, so look for what on that host keeps connecting to the board port");
}

}  // namespace

bool WifiPeerLogBudget::admit(const std::string& address, ConnectionArrival arrival, Clock::time_point now) {
    endWindowIfOver(now);
    if (!windowStart) {
        windowStart = now;
    }
    auto found = counts.find(address);
    if (found == counts.end()) {
        if (counts.size() >= kTrackedAddresses) {
            ++untrackedLeftOut;
            anyLeftOut = true;
            return false;
        }
        found = counts.emplace(address, AddressCount{}).first;
    }
    AddressCount& count = found->second;
    std::size_t& logged = arrival == ConnectionArrival::taken ? count.taken : count.turnedAway;
    if (logged < kLoggedConnectionsPerAddress) {
        ++logged;
        return true;
    }
    ++count.leftOut;
    anyLeftOut = true;
    return false;
}

std::optional<WifiPeerLogBudget::Clock::time_point> WifiPeerLogBudget::summaryDue() const {
    if (!anyLeftOut || !windowStart) {
        return std::nullopt;
    }
    return *windowStart + kWindow;
}

void WifiPeerLogBudget::endWindowIfOver(Clock::time_point now) {
    if (!windowStart || now < *windowStart + kWindow) {
        return;
    }
    for (const auto& [address, count] : counts) {
        if (count.leftOut > 0) {
            logLeftOut(count.leftOut, address);
        }
    }
    if (untrackedLeftOut > 0) {
        logLeftOut(untrackedLeftOut, "other addresses");
    }
    windowStart.reset();
    counts.clear();
    untrackedLeftOut = 0;
    anyLeftOut = false;
}

}  // namespace brisel::device
