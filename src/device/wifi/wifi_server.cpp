#include "device/wifi/wifi_server.h"

#include <pthread.h>

#include <chrono>
#include <utility>
#include <vector>

#include "common/logger.h"
#include "common/paths.h"
#include "common/time_scale.h"

namespace brisel::device {

namespace {

// Pause before accepting again after the listener reported an error (for example no free file
// descriptors), so that a lasting error cannot make the io thread spin.
constexpr std::chrono::seconds kAcceptRetryDelay{1};

// The peer's address as the log budget counts it: an IPv4 peer on the dual-stack socket as IPv4.
std::string peerAddress(const asio::ip::tcp::socket& socket) {
    std::error_code error;
    const auto peer = socket.remote_endpoint(error);
    if (error) {
        return "unknown";
    }
    const asio::ip::address address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

}  // namespace

WifiServer::WifiServer(WifiServerSettings settings_)
    : settings(std::move(settings_)),
      io(std::make_shared<asio::io_context>(1)),
      keepRunning(asio::make_work_guard(*io)),
      acceptor(*io),
      acceptRetry(*io),
      logSummary(*io) {}

WifiServer::~WifiServer() {
    asio::post(*io, [this] {
        std::error_code ignored;
        acceptor.close(ignored);
        acceptRetry.cancel();
        logSummary.cancel();
        std::vector<std::shared_ptr<WifiServerConnection>> held;
        {
            std::lock_guard lock(tableMutex);
            for (const auto& entry : connectionsById) {
                held.push_back(entry.second);
            }
        }
        for (const auto& connection : held) {
            connection->closeForShutdown();
        }
    });
    keepRunning.reset();
    if (ioThread.joinable()) {
        ioThread.join();
    } else {
        io->run();  // never started: run the closing work here
    }
}

tl::expected<void, WifiServerError> WifiServer::start() {
    common::logger().info("WIFI: WifiServer starting...");
    if (ioThread.joinable()) {
        return tl::make_unexpected(WifiServerError{"the server is already started"});
    }
    std::error_code error;
    asio::ip::tcp::endpoint endpoint(asio::ip::tcp::v6(), settings.port);
    if (settings.scope == WifiListenScope::loopbackOnly) {
        endpoint = asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), settings.port);
    }
    acceptor.open(endpoint.protocol(), error);
    if (!error && endpoint.protocol() == asio::ip::tcp::v6()) {
        acceptor.set_option(asio::ip::v6_only(false), error);
        if (error) {
            // No IPv6 on this machine: listen on IPv4 only.
            std::error_code ignored;
            acceptor.close(ignored);
            error.clear();
            endpoint = asio::ip::tcp::endpoint(asio::ip::tcp::v4(), settings.port);
            acceptor.open(endpoint.protocol(), error);
        }
    }
    if (!error) {
        acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
    }
    if (!error) {
        acceptor.bind(endpoint, error);
    }
    if (!error) {
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (!error) {
        boundPort = acceptor.local_endpoint(error).port();
    }
    if (error) {
        std::error_code ignored;
        acceptor.close(ignored);
        return tl::make_unexpected(WifiServerError{"cannot listen on TCP port " +
                                                   std::to_string(settings.port) + ": " + error.message()});
    }
    acceptNext();
    ioThread = std::thread([this] {
        // The kernel keeps 15 characters of a thread name.
        pthread_setname_np(pthread_self(), std::string(kQueueLabel).substr(22, 15).c_str());
        io->run();
    });
    common::logger().info("WIFI: WifiServer ready.");
    return {};
}

void WifiServer::acceptNext() {
    acceptor.async_accept([this](const std::error_code& error, asio::ip::tcp::socket socket) {
        onAccept(error, std::move(socket));
    });
}

void WifiServer::onAccept(const std::error_code& error, asio::ip::tcp::socket socket) {
    if (error == asio::error::operation_aborted || !acceptor.is_open()) {
        return;
    }
    if (error) {
        common::logger().info("WIFI: WifiServer failure, error: " + error.message());
        acceptRetry.expires_after(kAcceptRetryDelay);
        acceptRetry.async_wait([this](const std::error_code& waitError) {
            if (!waitError && acceptor.is_open()) {
                acceptNext();
            }
        });
        return;
    }
    const std::string address = peerAddress(socket);
    const bool held = connections() > 0;
    const bool logged =
        logBudget.admit(address, held ? ConnectionArrival::turnedAway : ConnectionArrival::taken,
                        std::chrono::steady_clock::now());
    if (!logged) {
        scheduleLogSummary();
    }
    if (held) {
        if (logged) {
            common::logger().info("WIFI: refused a second board from " + address +
                                  ": one WiFi board at a time; disconnect the other board first");
        }
        std::error_code ignored;
        socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
        acceptNext();
        return;
    }
    auto connection = std::make_shared<WifiServerConnection>(
        io, std::move(socket), settings, logged ? ConnectionLines::logged : ConnectionLines::leftOut);
    {
        std::lock_guard lock(tableMutex);
        connectionsById[connection->id()] = connection;
    }
    tableChanged.notify_all();
    connection->start([this](WifiServerConnection& stopped) { connectionDidStop(stopped); });
    if (logged) {
        common::logger().info("WIFI: WifiServer did open connection " + std::to_string(connection->id()) +
                              " with device: " + connection->remoteEndpoint());
    }
    acceptNext();
}

void WifiServer::connectionDidStop(WifiServerConnection& connection) {
    {
        std::lock_guard lock(tableMutex);
        connectionsById.erase(connection.id());
    }
    tableChanged.notify_all();
    if (connection.linesLogged()) {
        common::logger().info("WIFI: WifiServer did close connection " + std::to_string(connection.id()));
    }
}

void WifiServer::scheduleLogSummary() {
    const auto due = logBudget.summaryDue();
    if (logSummaryArmed || !due) {
        return;
    }
    logSummaryArmed = true;
    logSummary.expires_at(*due);
    logSummary.async_wait([this](const std::error_code& error) {
        logSummaryArmed = false;
        if (!error) {
            logBudget.endWindowIfOver(std::chrono::steady_clock::now());
        }
    });
}

std::size_t WifiServer::connections() const {
    std::lock_guard lock(tableMutex);
    return connectionsById.size();
}

std::shared_ptr<WifiServerConnection> WifiServer::getConnection() const {
    std::lock_guard lock(tableMutex);
    if (connectionsById.empty()) {
        return nullptr;
    }
    return connectionsById.begin()->second;
}

std::shared_ptr<WifiServerConnection> WifiServer::waitForConnection(
    std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(tableMutex);
    std::shared_ptr<WifiServerConnection> found;
    tableChanged.wait_until(lock, deadline, [&] {
        // A connection that has ended leaves the table right after; it is not waited for.
        for (const auto& entry : connectionsById) {
            if (!entry.second->hasEnded()) {
                found = entry.second;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::shared_ptr<WifiServerConnection> WifiServer::connectionById(std::int64_t id) const {
    std::lock_guard lock(tableMutex);
    const auto found = connectionsById.find(id);
    return found == connectionsById.end() ? nullptr : found->second;
}

// --- The service's instance. ---

namespace {

struct ServiceInstance {
    std::mutex mutex;
    std::shared_ptr<WifiServer> server;  // guarded by mutex
};

ServiceInstance& serviceInstance() {
    static ServiceInstance instance;
    return instance;
}

}  // namespace

WifiServerSettings serviceWifiServerSettings(PresenceNotifier notifyPresence) {
    WifiServerSettings settings;
    settings.notifyPresence = std::move(notifyPresence);
    settings.timings.stagePause = common::scaled(settings.timings.stagePause);
    if (auto folder = common::privateTempFolder()) {
        settings.dumpFolder = *folder;
    } else {
        common::logger().error("WIFI: no private temporary folder for firmware transfer dumps (" +
                               folder.error() + "); transfers go on without dumps, check $TMPDIR");
    }
    return settings;
}

void startWifiServer(WifiServerSettings settings) {
    auto server = std::make_shared<WifiServer>(std::move(settings));
    {
        ServiceInstance& instance = serviceInstance();
        std::lock_guard lock(instance.mutex);
        instance.server = server;
    }
    if (auto started = server->start(); !started) {
        common::logger().info(
            "WIFI: server didn't start with error " + started.error().message +
            "; WiFi boards cannot connect until the service is restarted with the port free");
    }
}

std::shared_ptr<WifiServer> getWifiServer() {
    ServiceInstance& instance = serviceInstance();
    std::lock_guard lock(instance.mutex);
    return instance.server;
}

bool wifiConnectionExists() {
    const auto server = getWifiServer();
    return server && server->connections() > 0;
}

std::shared_ptr<WifiServerConnection> wifiConnection() {
    const auto server = getWifiServer();
    return server ? server->getConnection() : nullptr;
}

}  // namespace brisel::device
