#include "frame/websocket_server.h"

#include <libwebsockets.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <optional>
#include <string>

#include "common/logger.h"
#include "common/running_process_manager.h"
#include "frame/peer_address.h"
#include "frame/service_thread_log.h"
#include "frame/write_wakeup.h"

namespace brisel::frame {

// The protocol callback of the library, bound to the server that created the context.
struct LibraryCallbacks {
    static int websocketCallback(lws* wsi, lws_callback_reasons reason, void* /*user*/, void* in,
                                 std::size_t len) {
        auto* server = static_cast<WebSocketServer*>(lws_context_user(lws_get_context(wsi)));
        if (server == nullptr) {
            return 0;
        }
        // Nothing may unwind through the library: a failure here (out of memory in a handler) costs
        // this connection only.
        try {
            return server->handle(wsi, static_cast<int>(reason), in, len);
        } catch (const std::exception& failure) {
            common::logger().critical(std::string("Websocket event failed: ") + failure.what() +
                                      "; the connection is closed. Reload the web application.");
        } catch (...) {
            common::logger().critical(
                "Websocket event failed; the connection is closed. Reload the web application.");
        }
        return -1;
    }
};

namespace {

constexpr std::size_t kPerSessionDataSize = 8;
constexpr std::size_t kReceiveBufferSize = 900000;
constexpr std::size_t kTransmitPacketSize = 900000;
constexpr int kServiceTimeoutMilliseconds = 10;
constexpr std::size_t kPeerAddressBufferSize = 1024;
// Creating the context binds a socket; it never takes long.
constexpr std::chrono::seconds kStartWaitLimit{30};

// A browser that names no sub-protocol is served by the first entry; the table ends at the entry
// without a callback.
const std::array<lws_protocols, 3> kProtocols = {{
    {"http-only", LibraryCallbacks::websocketCallback, kPerSessionDataSize, kReceiveBufferSize, 0, nullptr,
     kTransmitPacketSize},
    {"", LibraryCallbacks::websocketCallback, kPerSessionDataSize, kReceiveBufferSize, 0, nullptr,
     kTransmitPacketSize},
    {"", nullptr, kPerSessionDataSize, kReceiveBufferSize, 0, nullptr, kTransmitPacketSize},
}};

// Whether other threads see a connection: a served peer whose connection is established.
bool isListed(const WebSocket& connection) {
    return connection.admission() == PeerAdmission::served && connection.state() == WebSocketState::connected;
}

// The peer of `wsi` as the library reports it, IPv4-mapped addresses written as IPv4.
std::string peerAddressOf(lws* wsi) {
    std::array<char, kPeerAddressBufferSize> reported{};
    const char* peerText = lws_get_peer_simple(wsi, reported.data(), reported.size());
    return normalisedPeerAddress(peerText != nullptr ? std::string_view(peerText) : std::string_view());
}

// The value of the request header `token` of `wsi`, or none when the request has no such header.
std::optional<std::string> headerValue(lws* wsi, lws_token_indexes token) {
    const int length = lws_hdr_total_length(wsi, token);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string value(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = lws_hdr_copy(wsi, value.data(), length + 1, token);
    if (copied < 0) {
        return std::nullopt;
    }
    value.resize(static_cast<std::size_t>(copied));
    return value;
}

// Only browsers on this machine are served, so the websocket listens on the loopback addresses alone:
// 127.0.0.1 and ::1, both, since a browser may reach "localhost" over either. Creates one vhost per
// address on `port` (0: a free port, the same for both) and returns the port bound, or none when
// 127.0.0.1 cannot be had. Without ::1 (IPv6 switched off, or another program holds the port there)
// the service goes on with 127.0.0.1 and says so in the log.
std::optional<std::uint16_t> listenOnLoopback(lws_context* context, std::uint16_t port) {
    lws_context_creation_info vhost{};
    vhost.protocols = kProtocols.data();
    vhost.port = port;
    vhost.iface = "127.0.0.1";
    vhost.vhost_name = "loopback-ipv4";
    vhost.options = LWS_SERVER_OPTION_FAIL_UPON_UNABLE_TO_BIND | LWS_SERVER_OPTION_DISABLE_IPV6;
    lws_vhost* ipv4 = lws_create_vhost(context, &vhost);
    if (ipv4 == nullptr) {
        return std::nullopt;
    }
    const auto bound = static_cast<std::uint16_t>(lws_get_vhost_listen_port(ipv4));
    vhost.port = bound;
    vhost.iface = "::1";
    vhost.vhost_name = "loopback-ipv6";
    vhost.options = LWS_SERVER_OPTION_FAIL_UPON_UNABLE_TO_BIND | LWS_SERVER_OPTION_IPV6_V6ONLY_MODIFY |
                    LWS_SERVER_OPTION_IPV6_V6ONLY_VALUE;
    if (lws_create_vhost(context, &vhost) == nullptr) {
        const std::string portText = std::to_string(bound);
        common::logger().warning("The websocket server listens on 127.0.0.1:" + portText +
                                 " only; it cannot listen on [::1]:" + portText +
                                 " (IPv6 is switched off, or another program holds that port). A browser "
                                 "that reaches localhost over IPv6 does not find Brisel: quit the program "
                                 "on that port, or switch IPv6 on for the loopback interface.");
    }
    return bound;
}

// Terminates the one external tool process in flight, whichever connection started it.
void clearProcessInFlight() {
    common::RunningProcessManager::shared().setInFlightProcess(nullptr);
}

}  // namespace

std::string describe(ServerStartError error) {
    switch (error) {
        case ServerStartError::alreadyStarted:
            return "the websocket server is already running";
        case ServerStartError::contextCreationFailed:
            return "Failed to create websocket context!";
    }
    return "unknown websocket server error";
}

WebSocketServer::WebSocketServer(ConnectHandler handler, HandshakeCheck check)
    : connectHandler(std::move(handler)),
      handshakeCheck(std::move(check)),
      wakeup(std::make_shared<WriteWakeup>()) {}

WebSocketServer::~WebSocketServer() {
    stop();
}

tl::expected<std::uint16_t, ServerStartError> WebSocketServer::start(std::uint16_t port) {
    if (serviceThread.joinable()) {
        return tl::unexpected(ServerStartError::alreadyStarted);
    }
    stopRequested.store(false);
    std::promise<tl::expected<std::uint16_t, ServerStartError>> started;
    auto result = started.get_future();
    serviceThread = std::thread([this, port, promise = std::move(started)]() mutable {
        pthread_setname_np(pthread_self(), "WebSocketLoop");
        try {
            serviceLoop(port, std::move(promise));
        } catch (const std::exception& failure) {
            common::logger().critical(std::string("The websocket thread failed: ") + failure.what() +
                                      "; restart Brisel.");
        } catch (...) {
            common::logger().critical("The websocket thread failed; restart Brisel.");
        }
    });
    if (result.wait_for(kStartWaitLimit) != std::future_status::ready) {
        common::logger().critical("The websocket server did not start within 30 s");
        stop();
        return tl::unexpected(ServerStartError::contextCreationFailed);
    }
    auto outcome = result.get();
    if (!outcome) {
        serviceThread.join();
    }
    return outcome;
}

void WebSocketServer::stop() {
    if (!serviceThread.joinable()) {
        return;
    }
    stopRequested.store(true);
    wakeup->wake();
    serviceThread.join();
}

std::shared_ptr<WebSocket> WebSocketServer::getWS() const {
    std::lock_guard lock(connectionsMutex);
    for (const auto& connection : openConnections) {
        if (isListed(*connection)) {
            return connection;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<WebSocket>> WebSocketServer::connections() const {
    std::lock_guard lock(connectionsMutex);
    std::vector<std::shared_ptr<WebSocket>> served;
    for (const auto& connection : openConnections) {
        if (isListed(*connection)) {
            served.push_back(connection);
        }
    }
    return served;
}

void WebSocketServer::serviceLoop(std::uint16_t port,
                                  std::promise<tl::expected<std::uint16_t, ServerStartError>> started) {
    lws_context_creation_info info{};
    info.options = LWS_SERVER_OPTION_EXPLICIT_VHOSTS;
    info.gid = -1;
    info.uid = -1;
    info.user = this;
    lws_context* context = lws_create_context(&info);
    const auto bound = context != nullptr ? listenOnLoopback(context, port) : std::nullopt;
    if (!bound) {
        if (context != nullptr) {
            lws_context_destroy(context);
        }
        started.set_value(tl::unexpected(ServerStartError::contextCreationFailed));
        return;
    }
    wakeup->attach(context);
    listeningPort = *bound;
    started.set_value(listeningPort);

    {
        // Lines logged on this thread reach the log after the replies of their pass.
        ServiceThreadLog log(context);
        while (!stopRequested.load()) {
            lws_service(context, kServiceTimeoutMilliseconds);
            log.passEnded(wakeup->takeFramesQueuedOnServiceThread());
        }
    }

    wakeup->detach();
    lws_context_destroy(context);
    std::vector<std::shared_ptr<WebSocket>> remaining;
    {
        std::lock_guard lock(connectionsMutex);
        remaining = openConnections;
    }
    for (const auto& connection : remaining) {
        closeConnection(connection);
    }
}

int WebSocketServer::handle(lws* wsi, int reason, void* in, std::size_t len) {
    switch (reason) {
        case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
            // Non-zero closes the connection without answering the handshake.
            return admitHandshake(wsi) ? 0 : -1;
        case LWS_CALLBACK_WSI_DESTROY:
            refusedHandshakes.erase(wsi);
            return 0;
        case LWS_CALLBACK_ESTABLISHED:
            establish(wsi);
            return 0;
        case LWS_CALLBACK_CLIENT_CONNECTION_ERROR:
            common::logger().warning("libwebsocket unknown reason: " + std::to_string(reason));
            return 0;
        case LWS_CALLBACK_CLOSED: {
            // A refused handshake was never a connection: its one line is the refusal.
            if (refusedHandshakes.erase(wsi) != 0) {
                return 0;
            }
            common::logger().info("Connection closed");
            if (auto connection = findConnection(wsi)) {
                if (connection->admission() == PeerAdmission::served) {
                    clearProcessInFlight();
                }
                closeConnection(connection);
            }
            return 0;
        }
        case LWS_CALLBACK_WS_PEER_INITIATED_CLOSE: {
            if (auto connection = findConnection(wsi)) {
                if (connection->admission() == PeerAdmission::served) {
                    clearProcessInFlight();
                }
                closeConnection(connection);
            }
            return 0;
        }
        case LWS_CALLBACK_RECEIVE: {
            auto connection = findConnection(wsi);
            if (in != nullptr && connection) {
                connection->received(in, len, lws_is_final_fragment(wsi) != 0, lws_frame_is_binary(wsi) != 0);
            }
            return 0;
        }
        case LWS_CALLBACK_SERVER_WRITEABLE: {
            auto connection = findConnection(wsi);
            if (!connection) {
                return 0;
            }
            if (connection->state() == WebSocketState::disconnecting) {
                return -1;
            }
            return connection->writeNextFrame() == WebSocket::WriteOutcome::closeConnection ? -1 : 0;
        }
        case LWS_CALLBACK_TIMER: {
            if (findConnection(wsi)) {
                lws_callback_on_writable(wsi);
            }
            return 0;
        }
        case LWS_CALLBACK_EVENT_WAIT_CANCELLED:
            for (const auto& connection : wakeup->takeMarked()) {
                connection->requestWritableIfPending();
            }
            return 0;
        default:
            return 0;
    }
}

bool WebSocketServer::admitHandshake(lws* wsi) {
    const auto host = headerValue(wsi, WSI_TOKEN_HOST);
    const auto origin = headerValue(wsi, WSI_TOKEN_ORIGIN);
    const auto refusal = handshakeCheck.refusal(host, origin, listeningPort);
    if (!refusal) {
        refusedHandshakes.erase(wsi);
        return true;
    }
    refusedHandshakes.insert(wsi);
    common::logger().notice("Host " + peerAddressOf(wsi) +
                            " attempted to connect, dropping connection: " + *refusal);
    return false;
}

void WebSocketServer::establish(lws* wsi) {
    std::string peer = peerAddressOf(wsi);
    const PeerAdmission admission = admissionOf(peer);
    auto connection = std::make_shared<WebSocket>(wsi, std::move(peer), admission, wakeup);
    {
        std::lock_guard lock(connectionsMutex);
        openConnections.push_back(connection);
    }
    if (connectHandler) {
        connectHandler(connection);
    }
    common::logger().info("Socket connection established");
    connection->markEstablished();
}

std::shared_ptr<WebSocket> WebSocketServer::findConnection(lws* wsi) const {
    std::lock_guard lock(connectionsMutex);
    const auto found = std::find_if(openConnections.rbegin(), openConnections.rend(),
                                    [wsi](const auto& connection) { return connection->handle() == wsi; });
    return found == openConnections.rend() ? nullptr : *found;
}

void WebSocketServer::closeConnection(const std::shared_ptr<WebSocket>& connection) {
    {
        std::lock_guard lock(connectionsMutex);
        const auto found = std::find(openConnections.begin(), openConnections.end(), connection);
        if (found != openConnections.end()) {
            openConnections.erase(found);
        }
    }
    connection->connectionClosed();
}

}  // namespace brisel::frame
