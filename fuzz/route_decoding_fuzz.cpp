// Feeds arbitrary frames to decode-and-choose. Whatever is chosen must encode and decode back to the
// same request of the same type.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <type_traits>
#include <variant>

#include "common/json_codec.h"
#include "frame/route_decoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view frame(reinterpret_cast<const char*>(data), size);
    const auto chosen = brisel::frame::decodeAndChoose(frame);
    if (!chosen) {
        return 0;
    }
    std::visit(
        [&](const auto& request) {
            using Request = std::decay_t<decltype(request)>;
            const auto encoded = brisel::common::encodeJsonText(request);
            if (!encoded) {
                std::abort();
            }
            const auto again = brisel::frame::decodeAndChoose(*encoded);
            if (!again || again->index() != chosen->index() || !(std::get<Request>(*again) == request)) {
                std::abort();
            }
        },
        *chosen);
    return 0;
}
