// The hand-over from sending threads to the websocket thread: connections with frames to write are
// marked here and the library's service loop is woken with its one thread-safe call.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

struct lws_context;

namespace brisel::frame {

class WebSocket;

class WriteWakeup {
  public:
    // Websocket thread: the context is serviced by the calling thread from now on.
    void attach(lws_context* context);
    // Websocket thread, before the context is destroyed: later marks are refused.
    void detach();

    // Any thread: marks `connection` for a writable callback and wakes the service loop. Returns false
    // when no context is being serviced (the frame will never be written).
    bool markForWriting(const std::shared_ptr<WebSocket>& connection);
    // Any thread: wakes the service loop without marking a connection.
    void wake();
    // Websocket thread: the marked connections that still exist; the marks are cleared.
    std::vector<std::shared_ptr<WebSocket>> takeMarked();

    // Any thread: true on the thread that services the attached context.
    bool isServiceThread() const;

    // Websocket thread: a frame was queued on the websocket thread itself (a reply sent while a message
    // is served); it leaves at a later pass of the service.
    void noteFrameQueuedOnServiceThread() { framesQueuedOnServiceThread = true; }
    // Websocket thread: whether frames were queued on it since the last call.
    bool takeFramesQueuedOnServiceThread() { return std::exchange(framesQueuedOnServiceThread, false); }

  private:
    mutable std::mutex mutex;
    lws_context* context = nullptr;                // guarded by mutex
    std::atomic<std::thread::id> serviceThread;    // read without the lock on every write
    std::vector<std::weak_ptr<WebSocket>> marked;  // guarded by mutex
    bool framesQueuedOnServiceThread = false;      // websocket thread only
};

}  // namespace brisel::frame
