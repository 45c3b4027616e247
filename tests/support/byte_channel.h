// A bounded in-memory link for reader tests: the producer blocks while the channel is full, so a test
// can push bytes as fast as the reader takes them without losing any.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "device/samples/byte_source.h"

namespace brisel::test_support {

class ByteChannel {
  public:
    explicit ByteChannel(std::size_t capacity) : capacity_(capacity) {}

    // Blocks until every byte fits (or the channel is closed). Any thread.
    void write(std::span<const std::uint8_t> bytes);
    // Every later read fails with `error`.
    void fail(device::PortError error);
    // Unblocks writers for good.
    void close();

    // Reader side (one thread), with the `ByteSource` contract.
    tl::expected<std::size_t, device::PortError> read(std::vector<std::uint8_t>& out,
                                                      std::chrono::milliseconds wait);
    void interrupt();

  private:
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint8_t> bytes_;
    bool closed_ = false;
    bool interrupted_ = false;
    std::optional<device::PortError> failure_;
};

// The reader's view of a channel it does not own.
class ChannelByteSource final : public device::ByteSource {
  public:
    explicit ChannelByteSource(ByteChannel& channel) : channel_(channel) {}
    tl::expected<std::size_t, device::PortError> readSome(std::vector<std::uint8_t>& out,
                                                          std::chrono::milliseconds wait) override {
        return channel_.read(out, wait);
    }
    void interrupt() override { channel_.interrupt(); }

  private:
    ByteChannel& channel_;
};

}  // namespace brisel::test_support
