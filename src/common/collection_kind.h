// The purpose of a collection's data.
#pragma once

#include <array>
#include <string_view>
#include <type_traits>

#include "common/enum_raw_values.h"

namespace brisel::common {

enum class CollectionKindResponse { TRAINING, VALIDATION, TESTING };

inline constexpr std::array<EnumRawValue<CollectionKindResponse>, 3> kCollectionKindResponseRawValues{{
    {CollectionKindResponse::TRAINING, "TRAINING"},
    {CollectionKindResponse::VALIDATION, "VALIDATION"},
    {CollectionKindResponse::TESTING, "TESTING"},
}};

constexpr const auto& enumRawValues(std::type_identity<CollectionKindResponse>) {
    return kCollectionKindResponseRawValues;
}

}  // namespace brisel::common
