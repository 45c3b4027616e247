// Which entries of a collection folder are saved segments waiting for upload.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace brisel::workflows {

// The first packet index that a collection folder entry's name carries: the name contains "sensors_"
// and, after its first occurrence, ".bin", with a non-empty decimal integer (an optional sign allowed)
// between the two. None for any other name, and for an index that does not fit a signed 64-bit
// integer. Pure.
std::optional<std::int64_t> sampleFileIndex(std::string_view fileName);

}  // namespace brisel::workflows
