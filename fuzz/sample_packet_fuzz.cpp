// Feeds arbitrary bytes to the sample packet decoder: it must never read out of bounds, and whatever
// it accepts must be a packet whose fields agree with its length. An input whose first byte is odd gets
// the header magic in front of the rest, so that the fuzzer reaches the checks behind it quickly.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "device/samples/sample.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using brisel::device::Sample;
    std::vector<std::uint8_t> packet;
    if (size > 0 && (data[0] & 1) != 0) {
        packet.assign(Sample::HEADER_MAGIC.begin(), Sample::HEADER_MAGIC.end());
        packet.insert(packet.end(), data + 1, data + size);
    } else {
        packet.assign(data, data + size);
    }
    const std::span<const std::uint8_t> bytes(packet);
    size = packet.size();
    const auto sample = Sample::parse(bytes, brisel::common::DeviceKind::STWINKT1);
    if (sample.has_value() != Sample::validate(bytes).has_value()) {
        std::abort();
    }
    if (sample) {
        // Accepted packets hold a whole header and a footer magic after it (where the entries end, which
        // may lie before the end of the declared payload).
        if (size < Sample::fixedHeaderBytes + Sample::footerBytes) {
            std::abort();
        }
        const auto footer =
            std::search(bytes.begin() + static_cast<std::ptrdiff_t>(Sample::fixedHeaderBytes), bytes.end(),
                        Sample::FOOTER_MAGIC.begin(), Sample::FOOTER_MAGIC.end());
        if (footer == bytes.end()) {
            std::abort();
        }
    }
    return 0;
}
