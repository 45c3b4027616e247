#include "device/samples/shared_byte_buffer.h"

#include <algorithm>

#include "common/logger.h"

namespace brisel::device {

SharedByteBuffer::SharedByteBuffer(std::string name, std::size_t capacity)
    : name_(std::move(name)), capacity_(capacity) {}

void SharedByteBuffer::append(std::span<const std::uint8_t> bytes) {
    bool logOverflow = false;
    {
        std::lock_guard lock(mutex_);
        const std::size_t room = capacity_ - std::min(capacity_, bytes_.size());
        const std::size_t kept = std::min(room, bytes.size());
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
        if (kept < bytes.size()) {
            droppedBytes_ += bytes.size() - kept;
            logOverflow = !overflowLogged_;
            overflowLogged_ = true;
        }
    }
    bytesArrived_.notify_one();
    if (logOverflow) {
        common::logger().warning(name_ + ": board bytes arrive faster than they are recorded; bytes over " +
                                 std::to_string(capacity_) +
                                 " are dropped. Close other programs that load the computer and try again.");
    }
}

std::size_t SharedByteBuffer::takeAll(std::vector<std::uint8_t>& out, std::chrono::milliseconds wait,
                                      const std::atomic<bool>& cancel) {
    std::unique_lock lock(mutex_);
    bytesArrived_.wait_for(lock, wait, [&] { return !bytes_.empty() || cancel.load(); });
    const std::size_t taken = bytes_.size();
    if (taken == 0) {
        return 0;
    }
    if (out.empty()) {
        out.swap(bytes_);
    } else {
        out.insert(out.end(), bytes_.begin(), bytes_.end());
    }
    bytes_.clear();
    overflowLogged_ = false;
    return taken;
}

void SharedByteBuffer::wake() {
    { std::lock_guard lock(mutex_); }
    bytesArrived_.notify_all();
}

void SharedByteBuffer::clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
    overflowLogged_ = false;
}

std::size_t SharedByteBuffer::size() const {
    std::lock_guard lock(mutex_);
    return bytes_.size();
}

std::size_t SharedByteBuffer::droppedBytes() const {
    std::lock_guard lock(mutex_);
    return droppedBytes_;
}

BufferByteSource::BufferByteSource(std::shared_ptr<SharedByteBuffer> buffer) : buffer_(std::move(buffer)) {}

tl::expected<std::size_t, PortError> BufferByteSource::readSome(std::vector<std::uint8_t>& out,
                                                                std::chrono::milliseconds wait) {
    return buffer_->takeAll(out, wait, interrupted_);
}

void BufferByteSource::interrupt() {
    interrupted_.store(true);
    buffer_->wake();
}

}  // namespace brisel::device
