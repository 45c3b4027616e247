#include "common/utf8.h"

#include <cstdint>

namespace brisel::common {
namespace {

bool inRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

// Length of the well-formed sequence starting at `offset`, or 1 when none starts there.
std::size_t sequenceLength(std::string_view bytes, std::size_t offset) {
    auto at = [&](std::size_t index) {
        return static_cast<unsigned char>(bytes[index]);
    };
    std::size_t available = bytes.size() - offset;
    unsigned char lead = at(offset);
    if (lead < 0x80) {
        return 1;
    }
    // The allowed range of the second byte depends on the lead byte; later bytes are 80..BF.
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (inRange(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (lead == 0xE0) {
        length = 3;
        secondLow = 0xA0;
    } else if (inRange(lead, 0xE1, 0xEC) || inRange(lead, 0xEE, 0xEF)) {
        length = 3;
    } else if (lead == 0xED) {
        length = 3;
        secondHigh = 0x9F;
    } else if (lead == 0xF0) {
        length = 4;
        secondLow = 0x90;
    } else if (inRange(lead, 0xF1, 0xF3)) {
        length = 4;
    } else if (lead == 0xF4) {
        length = 4;
        secondHigh = 0x8F;
    } else {
        return 1;
    }
    if (available < length || !inRange(at(offset + 1), secondLow, secondHigh)) {
        return 1;
    }
    for (std::size_t index = 2; index < length; ++index) {
        if (!inRange(at(offset + index), 0x80, 0xBF)) {
            return 1;
        }
    }
    return length;
}

}  // namespace

std::size_t byteOffsetAfterCharacters(std::string_view bytes, std::size_t count) {
    std::size_t offset = 0;
    for (std::size_t characters = 0; characters < count && offset < bytes.size(); ++characters) {
        offset += sequenceLength(bytes, offset);
    }
    return offset;
}

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
