// The payload of outgoing text frames: any bytes, never a crash; a payload is valid UTF-8 and is its
// own payload (trimming twice changes nothing more for white space and controls at the ends).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/utf8.h"
#include "frame/outgoing_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto payload = brisel::frame::outgoingFramePayload(text);
    if (payload.has_value() != brisel::common::isValidUtf8(text)) {
        std::abort();
    }
    if (payload && !brisel::common::isValidUtf8(*payload)) {
        std::abort();
    }
    return 0;
}
