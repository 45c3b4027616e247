#include "frame/websocket.h"

#include <libwebsockets.h>

#include <cstring>

#include "common/utf8.h"
#include "frame/outgoing_text.h"
#include "frame/write_wakeup.h"

namespace brisel::frame {
namespace {

constexpr lws_usec_t kChokedRecheckMicroseconds = 50000;  // 0.05 s

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
    if (senderWaits) {
        frame.senderWakeup = std::make_shared<std::condition_variable>();
    }
    const auto wakeupOfSender = frame.senderWakeup;
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
        requestWritableIfPending();
        return;
    }
    if (!loopWillWrite && !wakeup->markForWriting(shared_from_this())) {
        // Nobody services the library any more: the frame can never leave.
        std::vector<std::shared_ptr<std::condition_variable>> released;
        {
            std::lock_guard lock(queueMutex);
            released = releaseQueuedFrames();
        }
        for (const auto& sender : released) {
            sender->notify_one();
        }
        return;
    }
    std::unique_lock lock(queueMutex);
    const bool done =
        wakeupOfSender->wait_for(lock, kSenderWaitLimit, [&] { return lastDoneSequence >= sequence; });
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
    PendingFrame frame;
    bool morePending = false;
    {
        std::lock_guard lock(queueMutex);
        if (pendingFrames.empty()) {
            writesScheduled = false;
            return WriteOutcome::keepOpen;
        }
        frame = std::move(pendingFrames.front());
        pendingFrames.pop_front();
        queuedBytes -= frame.buffer.size() - LWS_PRE;
        lastDoneSequence = frame.sequence;
        morePending = !pendingFrames.empty();
        writesScheduled = morePending;
    }
    // The frame is handed to the library below, in this callback, whatever other threads do now:
    // its sender goes on while the bytes are sent.
    if (frame.senderWakeup) {
        frame.senderWakeup->notify_one();
    }
    if (currentState.load() == WebSocketState::connected) {
        const std::size_t length = frame.buffer.size() - LWS_PRE;
        const int written = lws_write(wsi, frame.buffer.data() + LWS_PRE, length, LWS_WRITE_TEXT);
        if (written < 0 || static_cast<std::size_t>(written) < length) {
            common::logger().error("Writing a reply to the browser failed; the connection is closed");
            return WriteOutcome::closeConnection;
        }
    }
    // One frame per writable callback: the next one waits for the library's next callback.
    if (morePending || currentState.load() == WebSocketState::disconnecting) {
        lws_callback_on_writable(wsi);
    }
    return WriteOutcome::keepOpen;
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
    std::vector<std::shared_ptr<std::condition_variable>> released;
    {
        std::lock_guard lock(queueMutex);
        closed = true;
        released = releaseQueuedFrames();
    }
    for (const auto& sender : released) {
        sender->notify_one();
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

std::vector<std::shared_ptr<std::condition_variable>> WebSocket::releaseQueuedFrames() {
    std::vector<std::shared_ptr<std::condition_variable>> released;
    for (auto& frame : pendingFrames) {
        if (frame.senderWakeup) {
            released.push_back(std::move(frame.senderWakeup));
        }
    }
    pendingFrames.clear();
    queuedBytes = 0;
    lastDoneSequence = lastQueuedSequence;
    return released;
}

}  // namespace brisel::frame
