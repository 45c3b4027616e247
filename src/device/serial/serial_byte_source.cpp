#include "device/serial/serial_byte_source.h"

#include <algorithm>

#include "device/samples/sample.h"

namespace brisel::device {

SerialByteSource::SerialByteSource(USBDevice& port) : port_(port), readBuffer_(Sample::maxSampleBytes()) {}

tl::expected<std::size_t, PortError> SerialByteSource::readSome(std::vector<std::uint8_t>& out,
                                                                std::chrono::milliseconds wait) {
    if (!port_.deviceOpen()) {
        return tl::unexpected(PortError{PortError::Kind::mustBeOpen, {}});
    }
    const auto count = port_.readBytes(readBuffer_, std::min(wait, kUnplugPollInterval));
    if (!count) {
        return tl::unexpected(count.error());
    }
    out.insert(out.end(), readBuffer_.begin(), readBuffer_.begin() + static_cast<std::ptrdiff_t>(*count));
    return *count;
}

void SerialByteSource::interrupt() {
    port_.interrupt();
}

}  // namespace brisel::device
