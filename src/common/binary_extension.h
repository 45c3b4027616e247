// The file extension of a downloaded model library ("library." + BINARY_EXTENSION).
#pragma once

#include <string_view>

namespace brisel::common {

inline constexpr std::string_view BINARY_EXTENSION = "bin";

}  // namespace brisel::common
