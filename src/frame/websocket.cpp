#include "frame/websocket.h"

#include <libwebsockets.h>

#include <cstring>
#include <thread>

#include "common/utf8.h"
#include "frame/outgoing_text.h"
#include "frame/write_wakeup.h"

namespace brisel::frame {
namespace {

constexpr lws_usec_t kChokedRecheckMicroseconds = 50000;          // 0.05 s
constexpr int kFramesPerWritable = 32;                            // at most, in one writable callback
constexpr std::chrono::microseconds kLookingBeforeSleeping{100};  // a sender, before it sleeps

// Tells the processor that this thread only waits for a value to change (no system call).
void pauseBriefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#else
    std::this_thread::yield();
#endif
}

}  // namespace

WebSocket::WebSocket(lws* handle, std::string peerAddress, PeerAdmission admission,
                     std::shared_ptr<WriteWakeup> writeWakeup)
    : peer(std::move(peerAddress)), peerAdmission(admission), wakeup(std::move(writeWakeup)), wsi(handle) {
    currentState.store(WebSocketState::connecting);
}

WebSocket::~WebSocket() = default;

void WebSocket::write(std::string_view text) {
    auto payload = outgoingFramePayload(text);
    if (!payload) {
        common::logger().error("Reply to the browser is not valid UTF-8 and was not sent");
        return;
    }
    if (currentState.load() != WebSocketState::connected) {
        return;
    }
    PendingFrame frame;
    frame.buffer.resize(LWS_PRE + payload->size());
    std::memcpy(frame.buffer.data() + LWS_PRE, payload->data(), payload->size());

    const bool senderWaits = !onWebsocketThread();
    frame.senderWaits = senderWaits;
    std::uint64_t sequence = 0;
    bool loopWillWrite = false;
    {
        std::lock_guard lock(queueMutex);
        if (closed) {
            return;
        }
        if (queuedBytes + payload->size() > kMaxQueuedBytes) {
            common::logger().error("Reply to the browser dropped: " + std::to_string(pendingFrames.size()) +
                                   " replies are still waiting because the browser is not reading them");
            return;
        }
        sequence = ++lastQueuedSequence;
        frame.sequence = sequence;
        queuedBytes += payload->size();
        pendingFrames.push_back(std::move(frame));
        loopWillWrite = writesScheduled;
    }

    if (!senderWaits) {
        wakeup->noteFrameQueuedOnServiceThread();
        requestWritableIfPending();
        return;
    }
    if (!loopWillWrite && !wakeup->markForWriting(shared_from_this())) {
        // Nobody services the library any more: the frame can never leave.
        bool sendersWait = false;
        {
            std::lock_guard lock(queueMutex);
            sendersWait = releaseQueuedFrames();
        }
        if (sendersWait) {
            wakeWaitingSenders();
        }
        return;
    }
    // The websocket thread usually takes the frame within microseconds: looking for it a little while
    // (0.1 ms at most) before sleeping spares that thread the wake-up of this one; several senders are
    // woken with one call, but each sleeping one still costs it time.
    const auto stopLooking = std::chrono::steady_clock::now() + kLookingBeforeSleeping;
    do {
        if (lastDoneSequence.load(std::memory_order_acquire) >= sequence) {
            return;
        }
        pauseBriefly();
    } while (std::chrono::steady_clock::now() < stopLooking);
    std::unique_lock lock(handOverMutex);
    const bool done = framesHandedOver.wait_for(
        lock, kSenderWaitLimit, [&] { return lastDoneSequence.load(std::memory_order_acquire) >= sequence; });
    if (!done) {
        common::logger().warning("The browser has not taken a reply for " +
                                 std::to_string(kSenderWaitLimit.count()) +
                                 " s; it stays queued. Check that the browser tab is still responsive.");
    }
}

void WebSocket::disconnect() {
    auto expected = WebSocketState::connected;
    if (!currentState.compare_exchange_strong(expected, WebSocketState::disconnecting)) {
        expected = WebSocketState::connecting;
        if (!currentState.compare_exchange_strong(expected, WebSocketState::disconnecting)) {
            return;
        }
    }
    if (onWebsocketThread()) {
        if (wsi != nullptr) {
            lws_callback_on_writable(wsi);
        }
        return;
    }
    wakeup->markForWriting(shared_from_this());
}

CloseCallbackId WebSocket::addCloseCallback(std::function<void()> callback) {
    std::lock_guard lock(closeMutex);
    const CloseCallbackId id{nextCloseCallbackId++};
    if (!closeCallbacksRan) {
        closeCallbacks.emplace(id, std::move(callback));
    }
    return id;
}

void WebSocket::removeCloseCallback(CloseCallbackId id) {
    std::lock_guard lock(closeMutex);
    closeCallbacks.erase(id);
}

void WebSocket::markEstablished() {
    auto expected = WebSocketState::connecting;
    currentState.compare_exchange_strong(expected, WebSocketState::connected);
    if (openHandler) {
        openHandler(shared_from_this());
    }
}

void WebSocket::received(const void* data, std::size_t length, bool finalFragment, bool binary) {
    if (peerAdmission == PeerAdmission::refused) {
        // A refused peer's bytes are never kept; each of its messages is refused once.
        if (finalFragment) {
            common::logger().notice("Host " + peer + " attempted to connect, dropping connection");
            disconnect();
        }
        return;
    }
    if (!incomingTooLarge) {
        if (incomingData.size() + length > kMaxIncomingMessageBytes) {
            common::logger().error("Message from the browser larger than " +
                                   std::to_string(kMaxIncomingMessageBytes) + " bytes dropped");
            incomingTooLarge = true;
            incomingData.clear();
            incomingData.shrink_to_fit();
        } else {
            incomingData.append(static_cast<const char*>(data), length);
        }
    }
    if (!finalFragment) {
        return;
    }
    if (incomingTooLarge) {
        incomingTooLarge = false;
        return;
    }
    std::string message;
    message.swap(incomingData);
    auto self = shared_from_this();
    if (!binary && common::isValidUtf8(message)) {
        if (textHandler) {
            textHandler(self, message);
        }
        return;
    }
    if (binaryHandler) {
        binaryHandler(self, message);
    }
}

WebSocket::WriteOutcome WebSocket::writeNextFrame() {
    if (wsi == nullptr) {
        return WriteOutcome::keepOpen;
    }
    if (lws_partial_buffered(wsi) == 1 && lws_send_pipe_choked(wsi) != 0) {
        lws_set_timer_usecs(wsi, kChokedRecheckMicroseconds);
        return WriteOutcome::keepOpen;
    }
    // A sender goes on once its frame has been handed to the library (or dropped because the
    // connection is closing); the senders that sleep are woken together at the end of the callback.
    bool sendersWait = false;
    const auto handedOver = [&](const PendingFrame& frame) {
        sendersWait = sendersWait || frame.senderWaits;
        markDone(frame.sequence);
    };
    const auto wakeSenders = [&] {
        if (sendersWait) {
            wakeWaitingSenders();
        }
    };
    for (int written = 0;; ++written) {
        PendingFrame frame;
        bool morePending = false;
        {
            std::lock_guard lock(queueMutex);
            if (pendingFrames.empty()) {
                writesScheduled = false;
                wakeSenders();
                return WriteOutcome::keepOpen;
            }
            frame = std::move(pendingFrames.front());
            pendingFrames.pop_front();
            queuedBytes -= frame.buffer.size() - LWS_PRE;
            morePending = !pendingFrames.empty();
            writesScheduled = morePending;
        }
        if (currentState.load() == WebSocketState::connected) {
            const std::size_t length = frame.buffer.size() - LWS_PRE;
            const int sent = lws_write(wsi, frame.buffer.data() + LWS_PRE, length, LWS_WRITE_TEXT);
            handedOver(frame);
            if (sent < 0 || static_cast<std::size_t>(sent) < length) {
                wakeSenders();
                common::logger().error("Writing a reply to the browser failed; the connection is closed");
                return WriteOutcome::closeConnection;
            }
        } else {
            handedOver(frame);
        }
        // The next frame goes in this callback too while the library holds none of the output back
        // and the socket takes more without blocking; otherwise it waits for the next callback, as
        // it does after kFramesPerWritable frames, so that reading and other connections get their turn.
        const bool nextNow = morePending && currentState.load() == WebSocketState::connected &&
                             written + 1 < kFramesPerWritable && lws_partial_buffered(wsi) == 0 &&
                             lws_send_pipe_choked(wsi) == 0;
        if (nextNow) {
            continue;
        }
        wakeSenders();
        if (morePending || currentState.load() == WebSocketState::disconnecting) {
            lws_callback_on_writable(wsi);
        }
        return WriteOutcome::keepOpen;
    }
}

void WebSocket::requestWritableIfPending() {
    if (wsi == nullptr) {
        return;
    }
    bool pending = false;
    {
        std::lock_guard lock(queueMutex);
        pending = !pendingFrames.empty();
        writesScheduled = writesScheduled || pending;
    }
    if (pending || currentState.load() == WebSocketState::disconnecting) {
        lws_callback_on_writable(wsi);
    }
}

void WebSocket::connectionClosed() {
    currentState.store(WebSocketState::disconnected);
    wsi = nullptr;
    bool sendersWait = false;
    {
        std::lock_guard lock(queueMutex);
        closed = true;
        sendersWait = releaseQueuedFrames();
    }
    if (sendersWait) {
        wakeWaitingSenders();
    }

    std::map<CloseCallbackId, std::function<void()>> callbacks;
    {
        std::lock_guard lock(closeMutex);
        if (closeCallbacksRan) {
            return;
        }
        closeCallbacksRan = true;
        callbacks.swap(closeCallbacks);
    }
    for (auto& [id, callback] : callbacks) {
        if (callback) {
            callback();
        }
    }
}

bool WebSocket::onWebsocketThread() const {
    return wakeup->isServiceThread();
}

bool WebSocket::releaseQueuedFrames() {
    bool sendersWait = false;
    for (const auto& frame : pendingFrames) {
        sendersWait = sendersWait || frame.senderWaits;
    }
    pendingFrames.clear();
    queuedBytes = 0;
    markDone(lastQueuedSequence);
    return sendersWait;
}

void WebSocket::markDone(std::uint64_t sequence) {
    std::uint64_t done = lastDoneSequence.load(std::memory_order_relaxed);
    while (done < sequence && !lastDoneSequence.compare_exchange_weak(
                                  done, sequence, std::memory_order_release, std::memory_order_relaxed)) {
    }
}

void WebSocket::wakeWaitingSenders() {
    // A sender that found its frame not yet done holds the lock until it sleeps; taking the lock once
    // after the frames were marked done makes sure that it is asleep, and so is woken, or sees them.
    { std::lock_guard lock(handOverMutex); }
    framesHandedOver.notify_all();
}

}  // namespace brisel::frame
