// The sample bytes of a WiFi board in data-collection mode, waiting for the sample reader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <stop_token>
#include <vector>

namespace brisel::device {

// Thread-safe. The connection's io thread appends; the sample reader takes everything at once.
// Bytes are kept only while saving is switched on. The buffer holds at most `capacity` bytes: a chunk
// that would pass the cap is dropped whole (with one warning per overflow episode), so a reader that
// stopped draining cannot exhaust memory.
class WifiDataBuffer {
  public:
    static constexpr std::size_t kDefaultCapacity = 16 * 1024 * 1024;

    explicit WifiDataBuffer(std::size_t capacity = kDefaultCapacity);

    // Appends the chunk when saving is on; otherwise drops it. Returns false when the chunk was dropped
    // for lack of room.
    bool append(std::span<const std::uint8_t> chunk);

    // Takes every buffered byte and leaves the buffer empty.
    std::vector<std::uint8_t> takeAll();

    // Like takeAll(), but first waits up to `timeout` for bytes to arrive. An empty result means the
    // wait ran out, the buffer was cleared while waiting, or a stop was requested through `stop` (then
    // it does not wait at all): a reader that is being stopped is never held up.
    std::vector<std::uint8_t> waitAndTake(std::chrono::steady_clock::duration timeout,
                                          std::stop_token stop = {});

    // Empties the buffer and wakes waiting readers.
    void clear();

    // Switches keeping bytes on. Off also empties the buffer.
    void startSave();
    void stopSave();
    bool isSaving() const { return saving.load(); }

    std::size_t size() const;

  private:
    const std::size_t capacity;
    std::atomic<bool> saving{false};
    mutable std::mutex mutex;
    std::condition_variable_any changed;
    std::vector<std::uint8_t> bytes;  // guarded by mutex
    bool overflowReported = false;    // guarded by mutex
    std::uint64_t clearCount = 0;     // guarded by mutex; lets a waiter notice a clear
};

}  // namespace brisel::device
