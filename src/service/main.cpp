// Entry point of brisel_core, the background service that the browser application drives over a
// websocket on localhost. It takes no options: it prepares its log, starts the server for WiFi boards
// and the websocket server, and then parks the main thread; everything else runs on the service's
// queues and threads until the process is terminated; the log file then gets its last lines.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "common/logger.h"
#include "common/time_scale.h"
#include "common/utilities.h"
#include "device/wifi/wifi_server.h"
#include "frame/controller_registry.h"
#include "frame/handshake_check.h"
#include "frame/library_log_bridge.h"
#include "frame/request_dispatcher.h"
#include "frame/websocket_server.h"
#include "workflows/collection/running_recordings.h"
#include "workflows/wifi_presence_notice.h"
#include "workflows/workflow_controllers.h"

namespace {

using brisel::common::logger;

// Starts the TCP server for WiFi boards on port 6012; its presence notices reach the browser through
// `websocketServer.getWS()` at the time of each notice. A failed start is logged and start-up goes on
// without WiFi boards. `websocketServer` lives for the rest of the process.
void startWifiServer(brisel::frame::WebSocketServer& websocketServer) {
    brisel::device::startWifiServer(brisel::device::serviceWifiServerSettings(
        brisel::workflows::makeWifiPresenceNotifier([&websocketServer] { return websocketServer.getWS(); })));
}

// Logs `message` as the service's last line, makes sure it reached the log file and ends the process.
[[noreturn]] void stopFatally(std::string_view message) {
    logger().critical(message);
    logger().flush();
    std::_Exit(EXIT_FAILURE);
}

// The signals that end the service (the tray application sends SIGTERM when it quits), less those
// that the parent has the service ignore (a blocked signal is still delivered to sigwait even when
// ignored, so an ignored one must stay out). Read once, first thing in main.
sigset_t terminationSignals() {
    static const sigset_t signals = [] {
        sigset_t taken;
        sigemptyset(&taken);
        for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction current {};
            if (sigaction(number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
                sigaddset(&taken, number);
            }
        }
        return taken;
    }();
    return signals;
}

// Called first thing, before any thread starts: every thread inherits the blocked signals, so only
// the parked main thread takes them (tools get an empty mask when they are started).
void blockTerminationSignals() {
    const sigset_t signals = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// Parks the calling thread until a termination signal arrives, then keeps what the running recordings
// recorded on the disk for a collection sync, puts the lines still on their way into the log file and
// ends the process by that very signal, as if it had not been caught. A disk that does not take the
// files and lines within 2 s ends the process by SIGALRM instead.
[[noreturn]] void parkUntilTerminated() {
    const sigset_t signals = terminationSignals();
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    alarm(2);
    brisel::workflows::keepRecordingsForExit();
    logger().flush();
    std::signal(received, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, received);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(received);
    std::_Exit(EXIT_FAILURE);  // not reached: the signal ends the process
}

// A build for users lists its web application's origins; without them any page may drive the service.
void warnWhenEveryOriginIsServed() {
    if (brisel::frame::deploymentAllowedOrigins().empty()) {
        logger().warning(
            "Every web page open in the browser may use this service: this build lists no web "
            "application origin. Build with BRISEL_ALLOWED_ORIGINS set to the web application's origins "
            "(see README.md).");
    }
}

// Starts the websocket server on the service port, then parks the calling thread for the life of the
// process.
[[noreturn]] void setupRoutes(brisel::frame::WebSocketServer& server) {
    logger().info("Starting socket server");
    warnWhenEveryOriginIsServed();
    brisel::frame::routeLibraryLogToService();
    auto started = server.start(brisel::frame::WebSocketServer::kServicePort);
    if (!started) {
        logger().error(
            "The websocket server cannot listen on port 4751; another program (or another Brisel "
            "service) may hold it. Quit that program and start Brisel again.");
        stopFatally(describe(started.error()));
    }
    parkUntilTerminated();
}

}  // namespace

int main() {
    blockTerminationSignals();
    // Test runs shorten every fixed wait; the service's own waits stay as they are without the variable.
    const auto timeScale = brisel::common::applyTimeScaleFromEnvironment();
    // Failures are printed by prepareLogFile itself; the log then goes to standard output only.
    (void)brisel::common::prepareLogFile();
    if (timeScale) {
        std::ostringstream factor;
        factor << *timeScale;
        logger().notice("Waits are scaled by " + factor.str() + " (test run)");
    }
    if (brisel::common::applyTranslatedProcessFromEnvironment()) {
        logger().notice("Runs as a translated process (test run)");
    }
    // The route table: the frame's own controllers, then those of the feature requests.
    auto registry = std::make_shared<brisel::frame::ControllerRegistry>(
        brisel::frame::ControllerRegistry::withFrameControllers());
    brisel::workflows::registerWorkflowControllers(*registry);
    // Not yet listening; lives for the rest of the process. The connect handler is in place before the
    // first connection.
    static brisel::frame::WebSocketServer server(brisel::frame::routingConnectHandler(registry));
    startWifiServer(server);
    setupRoutes(server);
}
