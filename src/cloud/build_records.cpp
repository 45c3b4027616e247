#include "cloud/build_records.h"

namespace brisel::cloud {

common::JsonStatus decodeValue(const common::Json& json, AdditionalProp1& out) {
    // The codec hands over only non-null values (null makes the optional key absent); anything else is
    // accepted as it is.
    if (json.is_null()) {
        return tl::unexpected(common::JsonError{"", "expected a value, got null"});
    }
    out = AdditionalProp1{};
    return {};
}

common::Json toJsonValue(const AdditionalProp1& /*value*/) {
    return common::Json::object();
}

}  // namespace brisel::cloud
