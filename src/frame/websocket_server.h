// The websocket endpoint of the service: one library context, serviced by one thread that owns it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <tl/expected.hpp>

#include "common/desktop_link.h"
#include "frame/handshake_check.h"
#include "frame/websocket.h"

struct lws;
struct lws_context;

namespace brisel::frame {

class WriteWakeup;

enum class ServerStartError { alreadyStarted, contextCreationFailed };

// The text of a start error, for log lines.
std::string describe(ServerStartError error);

class WebSocketServer {
  public:
    // Called on the websocket thread for each new connection, before "Socket connection established".
    using ConnectHandler = std::function<void(const std::shared_ptr<WebSocket>&)>;

    // The production port.
    static constexpr std::uint16_t kServicePort = desktop_link::kServicePort;

    // Opening handshakes that `handshakeCheck` refuses are closed without a reply (one notice line).
    explicit WebSocketServer(ConnectHandler connectHandler,
                             HandshakeCheck handshakeCheck = HandshakeCheck::deployment());
    // Stops the server (see `stop`).
    ~WebSocketServer();
    WebSocketServer(const WebSocketServer&) = delete;
    WebSocketServer& operator=(const WebSocketServer&) = delete;

    // Starts the websocket thread, which creates the library context listening on `port` of the
    // loopback addresses 127.0.0.1 and ::1 (0 picks a free port; without ::1 on 127.0.0.1 alone, with a
    // warning) and then services it until `stop`. Returns the port bound, or `contextCreationFailed`
    // (127.0.0.1's port taken, no resources; the thread has then ended) or `alreadyStarted`. Call from
    // one thread; waits until the context exists or failed.
    tl::expected<std::uint16_t, ServerStartError> start(std::uint16_t port);

    // Ends the websocket thread and destroys the context; every connection still open is closed (its
    // close callbacks run and its senders are released). Idempotent. Not from the websocket thread.
    void stop();

    // The first connection in order of establishment whose peer is served and whose state is
    // `connected`, or none. Any thread.
    std::shared_ptr<WebSocket> getWS() const;
    // The connections of served peers whose state is `connected`, in order of establishment. Any thread.
    std::vector<std::shared_ptr<WebSocket>> connections() const;

  private:
    friend struct LibraryCallbacks;

    void serviceLoop(std::uint16_t port, std::promise<tl::expected<std::uint16_t, ServerStartError>> started);
    int handle(lws* wsi, int reason, void* in, std::size_t len);
    std::shared_ptr<WebSocket> findConnection(lws* wsi) const;
    void closeConnection(const std::shared_ptr<WebSocket>& connection);
    void establish(lws* wsi);
    // Websocket thread: whether the opening handshake of `wsi` is served; logs a refusal.
    bool admitHandshake(lws* wsi);

    const ConnectHandler connectHandler;
    const HandshakeCheck handshakeCheck;
    std::uint16_t listeningPort = 0;  // set by the websocket thread before it services the context
    // Websocket thread only: handles whose opening handshake was refused, until the library closes them.
    std::unordered_set<lws*> refusedHandshakes;
    const std::shared_ptr<WriteWakeup> wakeup;
    std::thread serviceThread;  // owned by the thread that calls start and stop
    std::atomic<bool> stopRequested{false};

    mutable std::mutex connectionsMutex;
    std::vector<std::shared_ptr<WebSocket>> openConnections;  // guarded by connectionsMutex; changed
                                                              // on the websocket thread only
};

}  // namespace brisel::frame
