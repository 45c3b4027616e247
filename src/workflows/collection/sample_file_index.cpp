#include "workflows/collection/sample_file_index.h"

#include <charconv>
#include <system_error>

namespace brisel::workflows {

std::optional<std::int64_t> sampleFileIndex(std::string_view fileName) {
    constexpr std::string_view prefix = "sensors_";
    constexpr std::string_view suffix = ".bin";
    const std::size_t prefixAt = fileName.find(prefix);
    if (prefixAt == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t digitsAt = prefixAt + prefix.size();
    const std::size_t suffixAt = fileName.find(suffix, digitsAt);
    if (suffixAt == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view digits = fileName.substr(digitsAt, suffixAt - digitsAt);
    // from_chars takes "-" but not "+".
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') {
            return std::nullopt;
        }
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    std::int64_t index = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return index;
}

}  // namespace brisel::workflows
