#include "common/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace brisel::common {

namespace {

bool inRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

// Length of the well-formed sequence starting at `offset` (offset < bytes.size()), or 0 when none
// starts there: a stray continuation byte, an overlong form, a surrogate, a value above U+10FFFF or a
// sequence cut short.
std::size_t wellFormedLength(std::string_view bytes, std::size_t offset) {
    auto at = [&](std::size_t index) {
        return static_cast<unsigned char>(bytes[index]);
    };
    const unsigned char lead = at(offset);
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
        secondLow = 0xA0;  // overlong below U+0800
    } else if (inRange(lead, 0xE1, 0xEC) || inRange(lead, 0xEE, 0xEF)) {
        length = 3;
    } else if (lead == 0xED) {
        length = 3;
        secondHigh = 0x9F;  // surrogates U+D800..U+DFFF
    } else if (lead == 0xF0) {
        length = 4;
        secondLow = 0x90;  // overlong below U+10000
    } else if (inRange(lead, 0xF1, 0xF3)) {
        length = 4;
    } else if (lead == 0xF4) {
        length = 4;
        secondHigh = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() - offset < length || !inRange(at(offset + 1), secondLow, secondHigh)) {
        return 0;
    }
    for (std::size_t index = 2; index < length; ++index) {
        if (!inRange(at(offset + index), 0x80, 0xBF)) {
            return 0;
        }
    }
    return length;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    // Messages and log text are almost all ASCII: eight bytes at a time while no high bit is set.
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        if (bytes.size() - offset >= sizeof(std::uint64_t)) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes.data() + offset, sizeof word);
            if ((word & kHighBits) == 0) {
                offset += sizeof word;
                continue;
            }
        }
        const std::size_t length = wellFormedLength(bytes, offset);
        if (length == 0) {
            return false;
        }
        offset += length;
    }
    return true;
}

std::size_t wellFormedSequenceLength(std::string_view bytes, std::size_t offset) {
    return wellFormedLength(bytes, offset);
}

std::size_t byteOffsetAfterCharacters(std::string_view bytes, std::size_t count) {
    std::size_t offset = 0;
    for (std::size_t characters = 0; characters < count && offset < bytes.size(); ++characters) {
        // A byte that starts no well-formed sequence counts as one character.
        offset += std::max<std::size_t>(wellFormedLength(bytes, offset), 1);
    }
    return offset;
}

}  // namespace brisel::common
