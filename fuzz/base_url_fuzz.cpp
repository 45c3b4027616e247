// Feeds arbitrary base addresses (assembled from browser fields) to the base-address check. An accepted
// address must give an origin without delimiters or control characters that checks to itself again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cloud/base_url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto base = brisel::cloud::parseBaseURL(text);
    if (!base) {
        return 0;
    }
    const std::string origin = base->origin();
    const std::string_view afterScheme = std::string_view{origin}.substr(origin.find("://") + 3);
    for (const char character : afterScheme) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte <= 0x20 || byte == 0x7F || character == '/' || character == '\\' || character == '@' ||
            character == '?' || character == '#') {
            std::abort();
        }
    }
    if (base->port == 0 || (base->scheme != "http" && base->scheme != "https")) {
        std::abort();
    }
    const auto again = brisel::cloud::parseBaseURL(origin);
    if (!again || !(*again == *base)) {
        std::abort();
    }
    const std::string segment = brisel::cloud::percentEncodePathSegment(text);
    if (segment.find_first_of("/?#") != std::string::npos || segment == "." || segment == "..") {
        std::abort();
    }
    return 0;
}
