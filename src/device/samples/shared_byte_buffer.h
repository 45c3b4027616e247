// A bounded byte buffer that one side fills and a sample reader drains: a WiFi connection's bytes of a
// data collection, or the bytes that the browser relays from a Bluetooth board.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "device/samples/byte_source.h"
#include "device/samples/sample.h"

namespace brisel::device {

class SharedByteBuffer {
  public:
    // Default bound: 32 of the largest packets, several seconds of the fastest board.
    static constexpr std::size_t defaultCapacity = 32 * Sample::maxSampleBytes();

    // `name` appears in log lines ("BLUETOOTH", "WIFI"); `capacity` bounds the bytes held.
    explicit SharedByteBuffer(std::string name, std::size_t capacity = defaultCapacity);

    // Adds bytes. Bytes that do not fit under the bound are dropped; the first drop after the buffer
    // was last drained logs a warning. Never blocks beyond the lock. Any thread.
    void append(std::span<const std::uint8_t> bytes);

    // Moves every buffered byte to the end of `out` and leaves the buffer empty. When it is empty, waits
    // at most `wait` for bytes, and returns early once `cancel` is set and `wake()` was called.
    // Returns the number of bytes moved. Any thread; meant for one reader at a time.
    std::size_t takeAll(std::vector<std::uint8_t>& out, std::chrono::milliseconds wait,
                        const std::atomic<bool>& cancel);

    // Wakes every `takeAll` waiting, so that it rechecks its cancel flag. Any thread.
    void wake();

    // Drops every buffered byte. Any thread.
    void clear();

    std::size_t size() const;
    // Bytes dropped by `append` since creation.
    std::size_t droppedBytes() const;

  private:
    const std::string name_;
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable bytesArrived_;
    std::vector<std::uint8_t> bytes_;  // guarded by mutex_
    std::size_t droppedBytes_ = 0;     // guarded by mutex_
    bool overflowLogged_ = false;      // guarded by mutex_
};

// The byte source of a reader that drains a shared buffer. Keeps the buffer alive.
class BufferByteSource final : public ByteSource {
  public:
    explicit BufferByteSource(std::shared_ptr<SharedByteBuffer> buffer);

    tl::expected<std::size_t, PortError> readSome(std::vector<std::uint8_t>& out,
                                                  std::chrono::milliseconds wait) override;
    void interrupt() override;

  private:
    std::shared_ptr<SharedByteBuffer> buffer_;
    std::atomic<bool> interrupted_{false};
};

}  // namespace brisel::device
