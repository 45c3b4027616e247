// Fuzzes the lenient character walk that decides where a log trim cuts: any bytes, any count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::size_t count = data[0];
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t offset = brisel::common::byteOffsetAfterCharacters(bytes, count);
    // The cut never passes the end, advances at least one byte and at most four per character.
    if (offset > bytes.size() || offset > 4 * count || (offset < count && offset != bytes.size())) {
        std::abort();
    }
    // Walking in two steps ends where one walk ends.
    std::size_t half = brisel::common::byteOffsetAfterCharacters(bytes, count / 2);
    if (half + brisel::common::byteOffsetAfterCharacters(bytes.substr(half), count - count / 2) != offset) {
        std::abort();
    }
    return 0;
}
