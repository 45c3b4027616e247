// Feeds arbitrary bytes to the sample packet decoder: it must never read out of bounds, and whatever
// it accepts must be a packet whose fields agree with its length. An input whose first byte is odd gets
// the header magic in front of the rest, so that the fuzzer reaches the checks behind it quickly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "device/sample.h"

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
        // Accepted packets are at least a header and a footer long and end with the footer magic.
        if (size < Sample::fixedHeaderBytes + Sample::footerBytes) {
            std::abort();
        }
        for (std::size_t i = 0; i < Sample::footerBytes; ++i) {
            if (bytes[size - Sample::footerBytes + i] != Sample::FOOTER_MAGIC[i]) {
                std::abort();
            }
        }
    }
    return 0;
}
