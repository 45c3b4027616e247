// One browser connection of the websocket server: its state, handlers, close callbacks and the
// ordered queue of text frames that leave through the websocket thread.
#pragma once

#include <atomic>
#include <chrono>
#include <concepts>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/logger.h"
#include "frame/replies.h"

struct lws;

namespace brisel::frame {

class WriteWakeup;

// Where a connection stands. `error` is never entered by the service.
enum class WebSocketState { disconnected, connecting, connected, disconnecting, error };

// Whether the peer of a connection is served; decided once, when the connection is established.
enum class PeerAdmission { served, refused };

// Names one callback added with `WebSocket::addCloseCallback`.
enum class CloseCallbackId : std::uint64_t {};

class WebSocket : public std::enable_shared_from_this<WebSocket> {
  public:
    using OpenHandler = std::function<void(const std::shared_ptr<WebSocket>&)>;
    using TextHandler = std::function<void(const std::shared_ptr<WebSocket>&, std::string_view text)>;
    using BinaryHandler = std::function<void(const std::shared_ptr<WebSocket>&, std::string_view bytes)>;

    // A message larger than this is dropped whole, with one error line.
    static constexpr std::size_t kMaxIncomingMessageBytes = 64U * 1024U * 1024U;
    // Frames waiting beyond this many bytes: a new frame is dropped with one error line.
    static constexpr std::size_t kMaxQueuedBytes = 64U * 1024U * 1024U;
    // A sender off the websocket thread waits at most this long; its frame then stays queued.
    static constexpr std::chrono::seconds kSenderWaitLimit{30};

    // Used by the websocket server only, on the websocket thread: a connection of the library handle
    // `wsi` (state `connecting`) whose peer is `peerAddress` (IPv4-mapped forms already normalised).
    WebSocket(lws* wsi, std::string peerAddress, PeerAdmission admission,
              std::shared_ptr<WriteWakeup> wakeup);
    ~WebSocket();
    WebSocket(const WebSocket&) = delete;
    WebSocket& operator=(const WebSocket&) = delete;

    // Any thread.
    WebSocketState state() const { return currentState.load(); }
    const std::string& peerAddress() const { return peer; }
    PeerAdmission admission() const { return peerAdmission; }

    // Sends `text` as one text frame, without leading and trailing white space and control characters.
    // Any thread. Off the websocket thread the caller waits until the frame has been written or dropped
    // (a closed connection releases it at once; the wait is bounded by kSenderWaitLimit). On the
    // websocket thread the frame is queued in order and the call returns at once. Text that is not
    // UTF-8, a connection that is not `connected` and a full queue drop the frame; nothing is reported to
    // the caller and the connection stays open.
    void write(std::string_view text);
    void write(const char* text) { write(std::string_view(text)); }

    // Encodes `reply` as JSON and sends it with `write(text)`. A reply that cannot be encoded (a number
    // that is not finite, text that is not UTF-8) is logged and not sent. Any thread.
    template <class Reply>
    requires(!std::convertible_to<const Reply&, std::string_view>) void write(const Reply& reply);

    // Asks for the connection to be closed: a `connecting` or `connected` connection becomes
    // `disconnecting` and the library closes it at its next writable callback. Any thread.
    void disconnect();

    // Adds a callback that runs once, on the websocket thread, when the connection closes; a callback
    // added after the close never runs. Any thread. Callbacks must not throw.
    CloseCallbackId addCloseCallback(std::function<void()> callback);
    // Removes a callback that has not yet run; an unknown id is ignored. Any thread; when called while
    // the close callbacks run (on the websocket thread) the callback may already have started.
    void removeCloseCallback(CloseCallbackId id);

    // Handlers, set and called on the websocket thread only.
    void onOpen(OpenHandler handler) { openHandler = std::move(handler); }
    void onText(TextHandler handler) { textHandler = std::move(handler); }
    void onBinary(BinaryHandler handler) { binaryHandler = std::move(handler); }

  private:
    friend class WebSocketServer;

    // What the writable callback asks of the library after `writeNextFrame`.
    enum class WriteOutcome { keepOpen, closeConnection };

    struct PendingFrame {
        std::vector<unsigned char> buffer;  // LWS_PRE bytes of headroom, then the payload
        std::uint64_t sequence = 0;
        bool senderWaits = false;  // false for a sender on the websocket thread
    };

    // Websocket thread: the library reports it established; runs the open handler.
    void markEstablished();
    // Websocket thread: one piece of a message; `finalFragment` and `binary` as the library reports.
    void received(const void* data, std::size_t length, bool finalFragment, bool binary);
    // Websocket thread: writes the next pending frames in order (more than one only while the library
    // buffers none of the output and the socket would not block), or asks for a recheck in 0.05 s
    // while the library's output is still partly buffered and the send pipe choked.
    WriteOutcome writeNextFrame();
    // Websocket thread: asks the library for a writable callback when frames wait.
    void requestWritableIfPending();
    // Websocket thread: state `disconnected`, waiting senders released, queued frames dropped, close
    // callbacks run once. Idempotent.
    void connectionClosed();
    lws* handle() const { return wsi; }

    bool onWebsocketThread() const;
    // Under queueMutex: drops every queued frame; true when a sender waits for one of them.
    bool releaseQueuedFrames();
    // Marks every frame up to `sequence` as handed over or dropped (never moves back). Any thread.
    void markDone(std::uint64_t sequence);
    // Wakes the senders that sleep until their frames are done. Any thread, without queueMutex.
    void wakeWaitingSenders();

    std::atomic<WebSocketState> currentState{WebSocketState::disconnected};
    const std::string peer;
    const PeerAdmission peerAdmission;
    const std::shared_ptr<WriteWakeup> wakeup;

    // Websocket thread only.
    lws* wsi;
    OpenHandler openHandler;
    TextHandler textHandler;
    BinaryHandler binaryHandler;
    std::string incomingData;
    bool incomingTooLarge = false;

    // Guarded by queueMutex.
    std::mutex queueMutex;
    std::deque<PendingFrame> pendingFrames;
    std::size_t queuedBytes = 0;
    std::uint64_t lastQueuedSequence = 0;
    bool closed = false;
    // The websocket thread has asked for a writable callback for queued frames and will ask again
    // after each write while frames remain: a sender then needs not wake the service loop.
    bool writesScheduled = false;

    // The last frame handed to the library or dropped; only ever grows (markDone).
    std::atomic<std::uint64_t> lastDoneSequence{0};
    // The senders that sleep until their frames are done wait on `framesHandedOver` under
    // `handOverMutex`, which guards nothing else: waking them never holds up the queue. Notified once
    // per writable callback that handed over a waited-for frame, not once per frame.
    std::mutex handOverMutex;
    std::condition_variable framesHandedOver;

    // Guarded by closeMutex.
    std::mutex closeMutex;
    std::map<CloseCallbackId, std::function<void()>> closeCallbacks;
    std::uint64_t nextCloseCallbackId = 1;
    bool closeCallbacksRan = false;
};

template <class Reply>
requires(!std::convertible_to<const Reply&, std::string_view>) void WebSocket::write(const Reply& reply) {
    auto text = encodeReply(reply);
    if (!text) {
        common::logger().error("Could not JSON serialize device manager string before web socket send");
        return;
    }
    write(std::string_view(*text));
}

}  // namespace brisel::frame
