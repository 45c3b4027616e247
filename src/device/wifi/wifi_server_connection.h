// One WiFi board connected to the service over TCP.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>
#include "device/wifi/wifi_asio.h"

#include "device/wifi/wifi_ack_signal.h"
#include "device/wifi/wifi_data_buffer.h"
#include "device/wifi/wifi_mode.h"
#include "device/wifi/wifi_prediction_mailbox.h"
#include "device/wifi/wifi_receive_path.h"
#include "device/wifi/wifi_settings.h"

namespace brisel::device {

// Owned through std::shared_ptr (the server's table, board handles, pending io work). All socket work
// runs on the server's io thread; functions that other threads may call say so and hand their socket
// work to the io thread.
class WifiServerConnection : public std::enable_shared_from_this<WifiServerConnection> {
  public:
    // Called once on the io thread when the connection ends, so that the server forgets it.
    using StopCallback = std::function<void(WifiServerConnection&)>;

    // Io thread. Takes the next connection id (ids start at 0 and are never reused). With
    // ConnectionLines::leftOut the connection writes none of its own lines to the log but the refusal
    // of a firmware packet (the server's budget for its peer's address is spent).
    WifiServerConnection(std::shared_ptr<asio::io_context> io, asio::ip::tcp::socket socket,
                         const WifiServerSettings& settings, ConnectionLines lines = ConnectionLines::logged);
    WifiServerConnection(const WifiServerConnection&) = delete;
    WifiServerConnection& operator=(const WifiServerConnection&) = delete;
    ~WifiServerConnection();

    // Io thread. Reports the board present (twice: started, ready) and arms the first read.
    void start(StopCallback onStop);

    std::int64_t id() const { return connectionId; }
    const std::string& remoteEndpoint() const { return remote; }
    // Any thread.
    WifiMode modeDetected() const { return receivePath.mode(); }
    bool hasEnded() const { return ended.load(); }
    bool linesLogged() const { return lines == ConnectionLines::logged; }

    // Waits until the connection shows its mode or ends, or until `deadline`; returns the mode (none
    // when it ended without one or the deadline came first). Any thread but the io thread.
    WifiMode waitForMode(std::chrono::steady_clock::time_point deadline);

    // Sample bytes (any thread): getCurrentData() takes everything buffered; the sample reader may
    // also wait on dataBuffer() directly. Bytes are kept only between startSave() and stopSave();
    // stopSave() also empties the buffer.
    std::vector<std::uint8_t> getCurrentData() { return buffer.takeAll(); }
    WifiDataBuffer& dataBuffer() { return buffer; }
    void startSave() { buffer.startSave(); }
    void stopSave() { buffer.stopSave(); }
    bool getSaveStatus() const { return buffer.isSaving(); }

    // Latest prediction text (any thread); leaves "PENDING" in its place.
    std::string getCurrentPrediction() { return mailbox.take(); }
    // The same, waiting at most `timeout` for a new text (or the end of the connection, which empties
    // the mailbox); "PENDING" when none came.
    std::string waitForCurrentPrediction(std::chrono::steady_clock::duration timeout) {
        return mailbox.waitAndTake(timeout);
    }

    // Ends the connection: closes the socket, lets the server forget it, empties the mailbox and the
    // data buffer, and reports the board absent when its mode was detected. Idempotent. From another
    // thread it waits (bounded by the io request wait) until the io thread has done it.
    void connectionDidEnd();

    // --- Used by a firmware transfer, on the transfer's own thread (never the io thread). ---

    // Claims the connection for one transfer; false when a transfer is already running on it. A claim
    // makes the acknowledgement signal available again, so that an acknowledgement that never came
    // in an earlier, failed transfer cannot fail every later one.
    bool beginTransfer();
    // Releases the claim and clears the flashing flag.
    void finishTransfer();
    // The flashing flag: set while a transfer runs; exempts the connection from the liveness check
    // and makes reads look for acknowledgements. Any thread.
    bool isFlashing() const { return flashing.load(); }
    void setFlashing(bool value) { flashing.store(value); }
    // Takes the acknowledgement signal, waiting at most `timeout`; logs the timeout.
    bool acquireAckCheckPacketLock(std::chrono::steady_clock::duration timeout);
    // Queues bytes for sending as one message; clears sendComplete, which the io thread sets once
    // they are handed to the network. A send error ends the connection.
    void send(std::vector<std::uint8_t> bytes);
    bool sendComplete() const { return sendDone.load(); }

    const WifiTimings& timings() const { return settings.timings; }
    const std::filesystem::path& dumpFolder() const { return settings.dumpFolder; }

  private:
    enum class EndReason { closedByBoard, failed, ackRejected, silent, noMarker, requested, serverShutdown };

    void armRead();
    void onRead(const std::error_code& error, std::size_t length);
    // Acts on the verdict about an acknowledgement: releases the waiting sender or ends the connection.
    void settle(AckVerdict verdict);
    // Keeps bytes read while a transfer's packet is still being sent: the board may answer it before
    // this thread has run the send's completion, and the answer counts once the send is complete.
    void holdDuringSend(std::span<const std::uint8_t> chunk);
    void scheduleLivenessCheck();
    void onLivenessCheck(const std::error_code& error);
    // Closes a connection without a mode marker once it has sent more than kUndecidedByteLimit bytes
    // (after each read) or once timings.undecidedLimit has passed since it was accepted (its timer);
    // a running transfer defers both.
    void scheduleMarkerDeadline(std::chrono::steady_clock::duration delay);
    void onMarkerDeadline(const std::error_code& error);
    void endWhenUndecided(std::string_view why);
    void writeNext();
    void endOnIoThread(EndReason reason, const std::string& detail);
    void logEnd(EndReason reason, const std::string& detail) const;
    void notifyPresence(bool present);
    // Wakes the threads in waitForMode() after the mode was decided or the connection ended.
    void wakeModeWaiters();
    friend class WifiServer;  // closes connections without notices at shutdown
    void closeForShutdown();

    static std::atomic<std::int64_t> nextId;

    // Declared first so that the socket and timer are destroyed before the io context they use.
    const std::shared_ptr<asio::io_context> io;
    const WifiServerSettings settings;
    const std::int64_t connectionId;
    const ConnectionLines lines;
    std::string remote;

    WifiDataBuffer buffer;
    PredictionMailbox mailbox;
    AckSignal ackSignal;
    std::atomic<bool> flashing{false};
    std::atomic<bool> transferClaimed{false};
    std::atomic<bool> sendDone{false};
    std::atomic<bool> ended{false};
    std::mutex modeWaitMutex;  // orders waitForMode()'s test against wakeModeWaiters()
    std::condition_variable modeOrEnd;

    // Io thread only.
    asio::ip::tcp::socket socket;
    asio::steady_timer livenessTimer;
    asio::steady_timer markerTimer;
    bool livenessPending = false;
    std::chrono::steady_clock::time_point lastReadArmed;
    std::chrono::steady_clock::time_point connectionCheckTime;  // last completed read
    WifiReceivePath receivePath;
    std::vector<std::uint8_t> readBuffer;
    std::deque<std::vector<std::uint8_t>> writeQueue;
    bool writing = false;
    std::vector<std::uint8_t> heldDuringSend;  // see holdDuringSend(); at most kHeldDuringSendLimit
    StopCallback stopCallback;
};

}  // namespace brisel::device
