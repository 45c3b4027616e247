#include "device/wifi/wifi_mode.h"

#include <algorithm>

namespace brisel::device {

namespace {

constexpr std::string_view kDataCollectionMarker = "VLK_STLE";
constexpr std::string_view kClassificationMarker = "PRED:";
constexpr std::size_t kKeptTail = kDataCollectionMarker.size() - 1;

bool contains(const std::vector<std::uint8_t>& bytes, std::string_view marker) {
    auto found = std::search(
        bytes.begin(), bytes.end(), marker.begin(), marker.end(),
        [](std::uint8_t byte, char expected) { return byte == static_cast<std::uint8_t>(expected); });
    return found != bytes.end();
}

}  // namespace

std::string_view rawValue(WifiMode mode) {
    switch (mode) {
        case WifiMode::datacollect:
            return "data collection";
        case WifiMode::classify:
            return "classification";
        case WifiMode::none:
            return "none";
    }
    return "none";
}

WifiMode WifiModeDetector::feed(std::span<const std::uint8_t> chunk) {
    std::vector<std::uint8_t> joined = tail;
    joined.insert(joined.end(), chunk.begin(), chunk.end());
    if (contains(joined, kDataCollectionMarker)) {
        tail.clear();
        return WifiMode::datacollect;
    }
    if (contains(joined, kClassificationMarker)) {
        tail.clear();
        return WifiMode::classify;
    }
    const std::size_t keep = std::min(joined.size(), kKeptTail);
    tail.assign(joined.end() - static_cast<std::ptrdiff_t>(keep), joined.end());
    return WifiMode::none;
}

}  // namespace brisel::device
