// The TCP server that WiFi boards connect to, and the service's one instance of it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include "device/wifi/wifi_asio.h"

#include <tl/expected.hpp>

#include "device/wifi/wifi_peer_log_budget.h"
#include "device/wifi/wifi_server_connection.h"
#include "device/wifi/wifi_settings.h"

namespace brisel::device {

struct WifiServerError {
    std::string message;
};

// Holds at most one board connection: a board that connects while another is held is closed at
// once. Owns one io thread, the WiFi server queue, on which the listener and every connection run.
// The table of connections is guarded by a mutex; any thread may read it. The lines of the
// connections of one network address are logged within a budget (WifiPeerLogBudget).
class WifiServer {
  public:
    static constexpr const char* kQueueLabel = "com.velko.brisel_core.ServerQueue";

    explicit WifiServer(WifiServerSettings settings);
    WifiServer(const WifiServer&) = delete;
    WifiServer& operator=(const WifiServer&) = delete;
    // Closes the listener and every connection (without presence notices) and joins the io thread.
    ~WifiServer();

    // Logs "WIFI: WifiServer starting...", binds and listens on the port and starts the io thread.
    // Errors: the port cannot be bound (in use, no permission), or start() was called before.
    tl::expected<void, WifiServerError> start();

    // The bound port (useful with port 0); 0 before a successful start.
    std::uint16_t port() const { return boundPort; }

    // Any thread.
    std::size_t connections() const;
    // The held connection, or none.
    std::shared_ptr<WifiServerConnection> getConnection() const;
    // The connection with this id while it is held, or none.
    std::shared_ptr<WifiServerConnection> connectionById(std::int64_t id) const;
    // Waits until the server holds a connection that has not ended, or until `deadline`; returns it,
    // or none. Any thread but the io thread.
    std::shared_ptr<WifiServerConnection> waitForConnection(
        std::chrono::steady_clock::time_point deadline) const;

  private:
    void acceptNext();
    void onAccept(const std::error_code& error, asio::ip::tcp::socket socket);
    void connectionDidStop(WifiServerConnection& connection);
    // Io thread: arms the timer that ends the log budget's window when connections were left out.
    void scheduleLogSummary();

    const WifiServerSettings settings;
    const std::shared_ptr<asio::io_context> io;
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning;
    asio::ip::tcp::acceptor acceptor;
    asio::steady_timer acceptRetry;
    asio::steady_timer logSummary;
    bool logSummaryArmed = false;  // io thread only
    WifiPeerLogBudget logBudget;   // io thread only
    std::uint16_t boundPort = 0;
    std::thread ioThread;

    mutable std::mutex tableMutex;
    mutable std::condition_variable tableChanged;
    std::map<std::int64_t, std::shared_ptr<WifiServerConnection>> connectionsById;  // guarded by tableMutex
};

// --- The service's instance (one per process). ---

// The service's settings: port 6012 on every interface, default timings (the pauses between the stages
// of a firmware transfer scaled by common::timeScale()), dumps in the user's private temporary folder
// (none when it cannot be made; that is logged), notices through `notifyPresence`.
WifiServerSettings serviceWifiServerSettings(PresenceNotifier notifyPresence);

// Creates the server, stores it (replacing an earlier one) and starts it; a failed start is logged
// ("WIFI: server didn't start with error ...") and the service goes on without WiFi boards. Called
// once at service start-up, before the websocket server starts.
void startWifiServer(WifiServerSettings settings);

// The stored server, or none before startWifiServer().
std::shared_ptr<WifiServer> getWifiServer();
// True when the stored server holds a board connection.
bool wifiConnectionExists();
// The stored server's connection, or none.
std::shared_ptr<WifiServerConnection> wifiConnection();

}  // namespace brisel::device
