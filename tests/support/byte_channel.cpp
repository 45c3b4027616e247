#include "support/byte_channel.h"

#include <algorithm>

namespace brisel::test_support {

void ByteChannel::write(std::span<const std::uint8_t> bytes) {
    std::size_t offset = 0;
    std::unique_lock lock(mutex_);
    while (offset < bytes.size() && !closed_) {
        changed_.wait(lock, [&] { return closed_ || bytes_.size() < capacity_; });
        const std::size_t room = capacity_ - std::min(capacity_, bytes_.size());
        const std::size_t count = std::min(room, bytes.size() - offset);
        bytes_.insert(bytes_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                      bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
        offset += count;
        changed_.notify_all();
    }
}

void ByteChannel::fail(device::PortError error) {
    std::lock_guard lock(mutex_);
    failure_ = error;
    changed_.notify_all();
}

void ByteChannel::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

tl::expected<std::size_t, device::PortError> ByteChannel::read(std::vector<std::uint8_t>& out,
                                                               std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return !bytes_.empty() || interrupted_ || failure_.has_value(); });
    if (!bytes_.empty()) {
        const std::size_t count = bytes_.size();
        out.insert(out.end(), bytes_.begin(), bytes_.end());
        bytes_.clear();
        changed_.notify_all();
        return count;
    }
    if (failure_) {
        return tl::unexpected(*failure_);
    }
    return std::size_t{0};
}

void ByteChannel::interrupt() {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    changed_.notify_all();
}

}  // namespace brisel::test_support
