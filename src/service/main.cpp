// Entry point of brisel_core, the background service that the browser application drives over a
// websocket on localhost. It takes no options: it prepares its log, starts the server for WiFi boards
// and the websocket server, and then parks the main thread; everything else runs on the service's
// queues and threads until the process is terminated.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "common/dispatch.h"
#include "common/logger.h"
#include "frame/controller_registry.h"
#include "frame/library_log_bridge.h"
#include "frame/request_dispatcher.h"
#include "frame/websocket_server.h"

namespace {

using brisel::common::logger;

// Starts the TCP server for WiFi boards on port 6012. The WiFi server is wired in here; until then
// the service runs without WiFi boards. A failed start is logged and start-up goes on.
void startWifiServer() {}

// Logs `message` as the service's last line, makes sure it reached the log file and ends the process.
[[noreturn]] void stopFatally(std::string_view message) {
    logger().critical(message);
    logger().flush();
    std::_Exit(EXIT_FAILURE);
}

// Starts the websocket server on the service port with the route table, then parks the calling thread
// for the life of the process.
[[noreturn]] void setupRoutes() {
    logger().info("Starting socket server");
    auto registry = std::make_shared<const brisel::frame::ControllerRegistry>(
        brisel::frame::ControllerRegistry::withFrameControllers());
    brisel::frame::routeLibraryLogToService();
    // Lives for the rest of the process; the connect handler is in place before the first connection.
    static brisel::frame::WebSocketServer server(brisel::frame::routingConnectHandler(registry));
    auto started = server.start(brisel::frame::WebSocketServer::kServicePort);
    if (!started) {
        stopFatally(describe(started.error()));
    }
    brisel::common::DispatchGroup parked;
    parked.enter();
    while (!parked.wait(std::chrono::hours(24))) {
    }
    std::_Exit(EXIT_SUCCESS);
}

}  // namespace

int main() {
    // Failures are printed by prepareLogFile itself; the log then goes to standard output only.
    (void)brisel::common::prepareLogFile();
    startWifiServer();
    setupRoutes();
}
