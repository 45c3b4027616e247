#include "device/source_location_text.h"

#include <string_view>

namespace brisel::device {

std::string sourceLocationText(const char* file, unsigned line) {
    std::string_view name = file;
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    return std::string(name) + ":" + std::to_string(line);
}

}  // namespace brisel::device
