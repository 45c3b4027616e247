// What a WiFi board is doing, decided once from the first text it sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace brisel::device {

enum class WifiMode { datacollect, classify, none };

// "data collection", "classification" or "none".
std::string_view rawValue(WifiMode mode);

// Finds the first mode marker in a board's opening bytes: "VLK_STLE" means data collection, "PRED:"
// means classification ("VLK_STLE" wins when a chunk holds both). A marker cut by a read boundary is
// still found: the detector keeps the last few bytes of the previous chunk. Not thread-safe; the
// connection uses it on its io thread only.
class WifiModeDetector {
  public:
    // Returns the mode decided by this chunk, or none while no marker has been seen.
    WifiMode feed(std::span<const std::uint8_t> chunk);

  private:
    std::vector<std::uint8_t> tail;  // at most the longest marker's length minus one
};

}  // namespace brisel::device
