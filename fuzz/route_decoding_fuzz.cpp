// Feeds arbitrary frames to decode-and-choose. Whatever is chosen must encode and decode back to the
// same request of the same type; and no routed type that the quick look at the required keys passes
// over may decode the frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "common/json_codec.h"
#include "frame/route_decoding.h"

namespace {

template <std::size_t... Index>
void checkPassedOverTypes(const brisel::common::Json& json, std::index_sequence<Index...>) {
    const auto check = [&]<std::size_t Position>(std::integral_constant<std::size_t, Position>) {
        using Request = std::variant_alternative_t<Position, brisel::frame::RoutedRequest>;
        if (!brisel::common::holdsRequiredKeys<Request>(json) && brisel::common::decodeJson<Request>(json)) {
            std::abort();
        }
    };
    (check(std::integral_constant<std::size_t, Index>{}), ...);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view frame(reinterpret_cast<const char*>(data), size);
    if (const auto json = brisel::common::parseJson(frame)) {
        checkPassedOverTypes(*json,
                             std::make_index_sequence<std::variant_size_v<brisel::frame::RoutedRequest>>{});
    }
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
