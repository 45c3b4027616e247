#include "frame/route_decoding.h"

#include <optional>
#include <utility>

#include "common/utf8.h"

namespace brisel::frame {

namespace {

template <std::size_t... Index>
std::optional<RoutedRequest> chooseLastDecoding(const common::Json& json, std::index_sequence<Index...>) {
    std::optional<RoutedRequest> chosen;
    const auto tryType = [&]<std::size_t Position>(std::integral_constant<std::size_t, Position>) {
        using Request = std::variant_alternative_t<Position, RoutedRequest>;
        // Most types lack their message key: they are passed over without a decoding attempt, whose
        // failure would build an error that nobody reads.
        if (!common::holdsRequiredKeys<Request>(json)) {
            return;
        }
        auto decoded = common::decodeJson<Request>(json);
        if (decoded) {
            chosen.emplace(std::in_place_index<Position>, std::move(*decoded));
        }
    };
    (tryType(std::integral_constant<std::size_t, Index>{}), ...);
    return chosen;
}

}  // namespace

tl::expected<RoutedRequest, RouteDecodingError> decodeAndChoose(std::string_view frame) {
    if (!common::isValidUtf8(frame)) {
        return tl::unexpected(RouteDecodingError::noBytes);
    }
    common::JsonResult<common::Json> json = common::parseJson(frame);
    if (!json) {
        return tl::unexpected(RouteDecodingError::unknownType);
    }
    std::optional<RoutedRequest> chosen =
        chooseLastDecoding(*json, std::make_index_sequence<std::variant_size_v<RoutedRequest>>{});
    if (!chosen) {
        return tl::unexpected(RouteDecodingError::unknownType);
    }
    return std::move(*chosen);
}

}  // namespace brisel::frame
