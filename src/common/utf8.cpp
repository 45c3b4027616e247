#include "common/utf8.h"

#include <cstddef>
#include <cstdint>

namespace brisel::common {

namespace {

bool isContinuation(std::uint8_t byte) {
    return (byte & 0xC0U) == 0x80U;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    const std::size_t size = bytes.size();
    std::size_t at = 0;
    while (at < size) {
        const auto lead = static_cast<std::uint8_t>(bytes[at]);
        if (lead < 0x80U) {
            ++at;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t secondLow = 0x80U;
        std::uint8_t secondHigh = 0xBFU;
        if (lead >= 0xC2U && lead <= 0xDFU) {
            length = 2;
        } else if (lead >= 0xE0U && lead <= 0xEFU) {
            length = 3;
            if (lead == 0xE0U) {
                secondLow = 0xA0U;  // overlong below U+0800
            } else if (lead == 0xEDU) {
                secondHigh = 0x9FU;  // surrogates U+D800..U+DFFF
            }
        } else if (lead >= 0xF0U && lead <= 0xF4U) {
            length = 4;
            if (lead == 0xF0U) {
                secondLow = 0x90U;  // overlong below U+10000
            } else if (lead == 0xF4U) {
                secondHigh = 0x8FU;  // above U+10FFFF
            }
        } else {
            return false;
        }
        if (size - at < length) {
            return false;
        }
        const auto second = static_cast<std::uint8_t>(bytes[at + 1]);
        if (second < secondLow || second > secondHigh) {
            return false;
        }
        for (std::size_t next = 2; next < length; ++next) {
            if (!isContinuation(static_cast<std::uint8_t>(bytes[at + next]))) {
                return false;
            }
        }
        at += length;
    }
    return true;
}

}  // namespace brisel::common
