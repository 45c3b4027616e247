#include "device/wifi/wifi_data_buffer.h"

#include <string>

#include "common/logger.h"

namespace brisel::device {

WifiDataBuffer::WifiDataBuffer(std::size_t capacity_) : capacity(capacity_) {}

bool WifiDataBuffer::append(std::span<const std::uint8_t> chunk) {
    if (!saving.load() || chunk.empty()) {
        return true;
    }
    {
        std::lock_guard lock(mutex);
        if (chunk.size() > capacity - bytes.size()) {
            if (!overflowReported) {
                overflowReported = true;
                common::logger().warning("WIFI: data buffer full (" + std::to_string(capacity) +
                                         " bytes), dropping board data until the recording catches up; "
                                         "restart the data collection if samples are missing");
            }
            return false;
        }
        overflowReported = false;
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    }
    changed.notify_all();
    return true;
}

std::vector<std::uint8_t> WifiDataBuffer::takeAll() {
    std::lock_guard lock(mutex);
    std::vector<std::uint8_t> taken;
    taken.swap(bytes);
    return taken;
}

std::vector<std::uint8_t> WifiDataBuffer::waitAndTake(std::chrono::steady_clock::duration timeout,
                                                      std::stop_token stop) {
    std::unique_lock lock(mutex);
    const std::uint64_t clearsBefore = clearCount;
    changed.wait_for(lock, stop, timeout, [&] { return !bytes.empty() || clearCount != clearsBefore; });
    std::vector<std::uint8_t> taken;
    taken.swap(bytes);
    return taken;
}

void WifiDataBuffer::clear() {
    {
        std::lock_guard lock(mutex);
        bytes.clear();
        bytes.shrink_to_fit();
        ++clearCount;
    }
    changed.notify_all();
}

void WifiDataBuffer::startSave() {
    saving.store(true);
}

void WifiDataBuffer::stopSave() {
    saving.store(false);
    clear();
}

std::size_t WifiDataBuffer::size() const {
    std::lock_guard lock(mutex);
    return bytes.size();
}

}  // namespace brisel::device
