#include "device/source_location_text.h"

#include <string_view>

namespace brisel::device {

std::string sourceLocationText(std::source_location location) {
    std::string_view file = location.file_name();
    if (const auto slash = file.rfind('/'); slash != std::string_view::npos) {
        file.remove_prefix(slash + 1);
    }
    return std::string(file) + ":" + std::to_string(location.line());
}

}  // namespace brisel::device
