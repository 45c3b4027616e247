// The link over which a data collection runs.
#pragma once

#include <array>
#include <type_traits>

#include "common/enum_raw_values.h"

namespace brisel::common {

enum class DataCollectionType { USB, WIFI, BLUETOOTH };

inline constexpr std::array<EnumRawValue<DataCollectionType>, 3> kDataCollectionTypeRawValues{{
    {DataCollectionType::USB, "USB"},
    {DataCollectionType::WIFI, "WIFI"},
    {DataCollectionType::BLUETOOTH, "BLUETOOTH"},
}};

constexpr const auto& enumRawValues(std::type_identity<DataCollectionType>) {
    return kDataCollectionTypeRawValues;
}

}  // namespace brisel::common
