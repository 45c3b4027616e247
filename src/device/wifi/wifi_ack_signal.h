// The acknowledgement signal of a firmware transfer: a binary signal that the transfer thread takes
// and the WiFi io thread gives back when the board acknowledges a packet.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace brisel::device {

// Starts available. Unlike a mutex it has no owner, and unlike a counting semaphore a second release
// while it is available changes nothing: a duplicated acknowledgement cannot let two waits through.
// Thread-safe; any thread may call either operation.
class AckSignal {
  public:
    // Takes the signal, waiting at most `timeout` for a release. Returns false when it stayed taken.
    bool acquire(std::chrono::steady_clock::duration timeout);

    // Makes the signal available and wakes one waiter; harmless when it is available already.
    void release();

  private:
    std::mutex mutex;
    std::condition_variable released;
    bool available = true;  // guarded by mutex
};

}  // namespace brisel::device
