#include "device/wifi/wifi_byte_source.h"

#include <utility>

namespace brisel::device {

WifiByteSource::WifiByteSource(std::shared_ptr<WifiServerConnection> connection)
    : connection_(std::move(connection)) {}

tl::expected<std::size_t, PortError> WifiByteSource::readSome(std::vector<std::uint8_t>& out,
                                                              std::chrono::milliseconds wait) {
    WifiDataBuffer& buffer = connection_->dataBuffer();
    // An ended connection gets no more bytes: take what is left without waiting for any.
    std::vector<std::uint8_t> taken =
        connection_->hasEnded() ? buffer.takeAll() : buffer.waitAndTake(wait, stop_.get_token());
    if (taken.empty()) {
        if (!stop_.stop_requested() && connection_->hasEnded()) {
            return tl::unexpected(PortError{PortError::Kind::deviceNotConnected, {}});
        }
        return 0;
    }
    const std::size_t count = taken.size();
    if (out.empty()) {
        out.swap(taken);
    } else {
        out.insert(out.end(), taken.begin(), taken.end());
    }
    return count;
}

void WifiByteSource::interrupt() {
    stop_.request_stop();
}

}  // namespace brisel::device
