// Feeds arbitrary bytes to the sample packet decoder: it must never read out of bounds, and whatever
// it accepts must be a packet whose fields agree with its length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "device/sample.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using brisel::device::Sample;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto sample = Sample::parse(bytes, brisel::common::DeviceKind::STWINKT1);
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
