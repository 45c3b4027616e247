// How much of the log the connections of one network address on the board port may take.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace brisel::device {

// Whether a new connection is taken or turned away because another one holds the board slot.
enum class ConnectionArrival { taken, turnedAway };

// Decides whether a new connection's lines go to the log: in each window (a minute from the first
// connection after the last window), the first kLoggedConnectionsPerAddress connections of an address
// that are taken, and as many that are turned away, are logged; later ones are counted, and when the
// window is over one line per address tells how many were left out. A board connects once and stays
// (or tries again now and then while another connection holds the slot), so only a peer that
// connects over and over loses lines. At most kTrackedAddresses addresses are told apart in a window;
// the connections of further addresses share one count. Used on the WiFi io thread only.
class WifiPeerLogBudget {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::size_t kLoggedConnectionsPerAddress = 5;
    static constexpr std::size_t kTrackedAddresses = 256;

    // Ends a window that is over at `now` (see endWindowIfOver), then counts a new connection of
    // `address`. True when its lines are to be logged.
    bool admit(const std::string& address, ConnectionArrival arrival, Clock::time_point now);

    // When connections were left out in the current window: the time it ends; otherwise none.
    std::optional<Clock::time_point> summaryDue() const;

    // When the current window is over at `now`, logs (at notice) one line per address whose
    // connections were left out and forgets every count; the next connection starts a new window.
    void endWindowIfOver(Clock::time_point now);

  private:
    struct AddressCount {
        std::size_t taken = 0;
        std::size_t turnedAway = 0;
        std::uint64_t leftOut = 0;
    };

    std::optional<Clock::time_point> windowStart;
    std::map<std::string, AddressCount> counts;
    std::uint64_t untrackedLeftOut = 0;  // connections of addresses beyond kTrackedAddresses
    bool anyLeftOut = false;
};

}  // namespace brisel::device
