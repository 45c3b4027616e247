#include "device/wifi/wifi_server_connection.h"

#include <future>
#include <span>
#include <utility>

#include "common/logger.h"
#include "common/peer_text.h"

namespace brisel::device {

namespace {

// Bytes kept from reads while a packet is on its way out (the newest are kept): far more than a board
// sends in the moment between a write and its completion.
constexpr std::size_t kHeldDuringSendLimit = 64 * 1024;

std::string describe(const asio::ip::tcp::socket& socket) {
    std::error_code error;
    const auto endpoint = socket.remote_endpoint(error);
    if (error) {
        return "unknown";
    }
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace

std::atomic<std::int64_t> WifiServerConnection::nextId{0};

WifiServerConnection::WifiServerConnection(std::shared_ptr<asio::io_context> io_,
                                           asio::ip::tcp::socket socket_, const WifiServerSettings& settings_,
                                           ConnectionLines lines_)
    : io(std::move(io_)),
      settings(settings_),
      connectionId(nextId.fetch_add(1)),
      lines(lines_),
      remote(describe(socket_)),
      buffer(settings_.dataBufferCapacity),
      socket(std::move(socket_)),
      livenessTimer(*io),
      markerTimer(*io),
      lastReadArmed(std::chrono::steady_clock::now()),
      connectionCheckTime(lastReadArmed),
      receivePath(connectionId, buffer, mailbox, lines) {}

WifiServerConnection::~WifiServerConnection() {
    std::error_code ignored;
    socket.close(ignored);
}

void WifiServerConnection::start(StopCallback onStop) {
    stopCallback = std::move(onStop);
    notifyPresence(true);
    if (linesLogged()) {
        common::logger().info("WIFI: connection " + std::to_string(connectionId) + " will start");
    }
    // An accepted TCP connection is ready at once.
    notifyPresence(true);
    if (linesLogged()) {
        common::logger().info("WIFI: connection " + std::to_string(connectionId) + " ready");
    }
    armRead();
    scheduleMarkerDeadline(settings.timings.undecidedLimit);
}

void WifiServerConnection::armRead() {
    const std::size_t length = receivePath.nextReadLength(flashing.load());
    readBuffer.resize(length);
    socket.async_read_some(asio::buffer(readBuffer.data(), length),
                           [self = shared_from_this()](const std::error_code& error, std::size_t received) {
                               self->onRead(error, received);
                           });
    scheduleLivenessCheck();
}

void WifiServerConnection::onRead(const std::error_code& error, std::size_t length) {
    if (ended.load()) {
        return;
    }
    if (!error && length > 0) {
        const std::span<const std::uint8_t> chunk(readBuffer.data(), length);
        const TransferFlags flags{flashing.load(), sendDone.load()};
        if (flags.flashing && !flags.sendComplete && writing) {
            holdDuringSend(chunk);
        }
        const WifiMode modeBefore = receivePath.mode();
        settle(receivePath.receive(chunk, flags));
        if (modeBefore == WifiMode::none && receivePath.mode() != WifiMode::none) {
            wakeModeWaiters();
        }
        if (!ended.load() && receivePath.mode() == WifiMode::none && !flashing.load() &&
            receivePath.undecidedBytes() > kUndecidedByteLimit) {
            endWhenUndecided("in its first " + std::to_string(receivePath.undecidedBytes()) + " bytes");
        }
    }
    if (!ended.load()) {
        if (error == asio::error::eof) {
            endOnIoThread(EndReason::closedByBoard, "");
        } else if (error) {
            endOnIoThread(EndReason::failed, error.message());
        } else {
            armRead();
        }
    }
    connectionCheckTime = std::chrono::steady_clock::now();
}

void WifiServerConnection::settle(AckVerdict verdict) {
    if (verdict == AckVerdict::accepted) {
        ackSignal.release();
    } else if (verdict == AckVerdict::rejected) {
        endOnIoThread(EndReason::ackRejected, "");
    }
}

void WifiServerConnection::holdDuringSend(std::span<const std::uint8_t> chunk) {
    heldDuringSend.insert(heldDuringSend.end(), chunk.begin(), chunk.end());
    if (heldDuringSend.size() > kHeldDuringSendLimit) {
        heldDuringSend.erase(heldDuringSend.begin(),
                             heldDuringSend.end() - static_cast<std::ptrdiff_t>(kHeldDuringSendLimit));
    }
}

void WifiServerConnection::scheduleLivenessCheck() {
    lastReadArmed = std::chrono::steady_clock::now();
    if (livenessPending) {
        return;
    }
    livenessPending = true;
    livenessTimer.expires_at(lastReadArmed + settings.timings.livenessDelay);
    livenessTimer.async_wait([weak = weak_from_this()](const std::error_code& error) {
        if (auto self = weak.lock()) {
            self->onLivenessCheck(error);
        }
    });
}

void WifiServerConnection::onLivenessCheck(const std::error_code& error) {
    livenessPending = false;
    if (error || ended.load()) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - connectionCheckTime > settings.timings.idleLimit && !flashing.load()) {
        endOnIoThread(EndReason::silent, "");
        return;
    }
    // One timer stands for the checks of every read armed since: the next one is due a liveness
    // delay after the latest arming, or a full delay from now when no read was armed since.
    auto due = lastReadArmed + settings.timings.livenessDelay;
    if (due <= now) {
        due = now + settings.timings.livenessDelay;
    }
    livenessPending = true;
    livenessTimer.expires_at(due);
    livenessTimer.async_wait([weak = weak_from_this()](const std::error_code& waitError) {
        if (auto self = weak.lock()) {
            self->onLivenessCheck(waitError);
        }
    });
}

void WifiServerConnection::scheduleMarkerDeadline(std::chrono::steady_clock::duration delay) {
    markerTimer.expires_after(delay);
    markerTimer.async_wait([weak = weak_from_this()](const std::error_code& error) {
        if (auto self = weak.lock()) {
            self->onMarkerDeadline(error);
        }
    });
}

void WifiServerConnection::onMarkerDeadline(const std::error_code& error) {
    if (error || ended.load() || receivePath.mode() != WifiMode::none) {
        return;
    }
    if (flashing.load()) {
        scheduleMarkerDeadline(settings.timings.undecidedLimit);  // looked at again after the transfer
        return;
    }
    endWhenUndecided("within " + std::to_string(settings.timings.undecidedLimit.count()) + " ms");
}

void WifiServerConnection::endWhenUndecided(std::string_view why) {
    if (!linesLogged()) {
        endOnIoThread(EndReason::noMarker, "");  // the closing line is not logged: spare its making
        return;
    }
    endOnIoThread(EndReason::noMarker,
                  "showed no mode marker (\"VLK_STLE\" or \"PRED:\") " + std::string(why) +
                      ", so it is no board; closed to leave the board slot free (a board sends its data "
                      "or predictions as soon as it connects). First bytes: " +
                      common::peerTextForLog(receivePath.firstBytes(), common::PeerTextForm::quoted));
}

void WifiServerConnection::send(std::vector<std::uint8_t> bytes) {
    sendDone.store(false);
    asio::post(*io, [weak = weak_from_this(), bytes = std::move(bytes)]() mutable {
        auto self = weak.lock();
        if (!self || self->ended.load()) {
            return;
        }
        self->writeQueue.push_back(std::move(bytes));
        if (!self->writing) {
            self->writeNext();
        }
    });
}

void WifiServerConnection::writeNext() {
    if (writeQueue.empty() || ended.load()) {
        writing = false;
        return;
    }
    writing = true;
    asio::async_write(socket, asio::buffer(writeQueue.front()),
                      [self = shared_from_this()](const std::error_code& error, std::size_t) {
                          if (self->ended.load()) {
                              return;
                          }
                          if (error) {
                              self->endOnIoThread(EndReason::failed, error.message());
                              return;
                          }
                          self->writeQueue.pop_front();
                          self->sendDone.store(true);
                          if (!self->heldDuringSend.empty()) {
                              const auto held = std::exchange(self->heldDuringSend, {});
                              self->settle(self->receivePath.acknowledgementIn(
                                  held, TransferFlags{self->flashing.load(), true}));
                              if (self->ended.load()) {
                                  return;
                              }
                          }
                          self->writeNext();
                      });
}

bool WifiServerConnection::acquireAckCheckPacketLock(std::chrono::steady_clock::duration timeout) {
    if (ackSignal.acquire(timeout)) {
        return true;
    }
    common::logger().info("ACK check Lock aqcuire timed out!");
    return false;
}

bool WifiServerConnection::beginTransfer() {
    bool expected = false;
    if (!transferClaimed.compare_exchange_strong(expected, true)) {
        return false;
    }
    ackSignal.release();
    return true;
}

void WifiServerConnection::finishTransfer() {
    flashing.store(false);
    transferClaimed.store(false);
}

void WifiServerConnection::connectionDidEnd() {
    if (io->get_executor().running_in_this_thread()) {
        endOnIoThread(EndReason::requested, "");
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    asio::post(*io, [weak = weak_from_this(), done] {
        if (auto self = weak.lock()) {
            self->endOnIoThread(EndReason::requested, "");
        }
        done->set_value();
    });
    if (finished.wait_for(settings.timings.ioRequestWait) != std::future_status::ready) {
        common::logger().error("WIFI: connection " + std::to_string(connectionId) +
                               " could not be closed in time; the WiFi server is not responding, "
                               "restart the service");
    }
}

void WifiServerConnection::endOnIoThread(EndReason reason, const std::string& detail) {
    if (ended.exchange(true)) {
        return;
    }
    // A firmware packet's refusal is logged whatever the budget of the peer's address: the user flashes.
    if (linesLogged() || reason == EndReason::ackRejected) {
        logEnd(reason, detail);
    }

    std::error_code ignored;
    livenessTimer.cancel();
    markerTimer.cancel();
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    writeQueue.clear();
    writing = false;
    // Emptied before the server forgets the connection, so that nobody sees a connection that is gone
    // from the table but still holds bytes or a prediction.
    mailbox.clear();
    buffer.clear();
    if (auto callback = std::exchange(stopCallback, {})) {
        callback(*this);
    }
    if (reason != EndReason::serverShutdown && receivePath.mode() != WifiMode::none) {
        notifyPresence(false);
    }
    wakeModeWaiters();
}

WifiMode WifiServerConnection::waitForMode(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(modeWaitMutex);
    modeOrEnd.wait_until(lock, deadline,
                         [this] { return ended.load() || receivePath.mode() != WifiMode::none; });
    return receivePath.mode();
}

void WifiServerConnection::wakeModeWaiters() {
    // Taking the mutex orders this wake-up after a waiter's test of the condition.
    { std::lock_guard lock(modeWaitMutex); }
    modeOrEnd.notify_all();
}

void WifiServerConnection::logEnd(EndReason reason, const std::string& detail) const {
    const std::string name = "WIFI: connection " + std::to_string(connectionId);
    switch (reason) {
        case EndReason::failed:
            common::logger().info(name + " did fail, error: " + detail);
            break;
        case EndReason::ackRejected:
            common::logger().info(name + " refused a firmware packet; reset the board and flash it again");
            break;
        case EndReason::silent:
            common::logger().info(name + " sent nothing for too long; check the board's power and WiFi");
            break;
        case EndReason::noMarker:
            common::logger().notice(name + " " + detail);
            break;
        case EndReason::closedByBoard:
        case EndReason::requested:
        case EndReason::serverShutdown:
            break;
    }
    common::logger().info(name + " did end");
}

void WifiServerConnection::closeForShutdown() {
    endOnIoThread(EndReason::serverShutdown, "");
}

void WifiServerConnection::notifyPresence(bool present) {
    if (settings.notifyPresence) {
        settings.notifyPresence(present);
    }
}

}  // namespace brisel::device
