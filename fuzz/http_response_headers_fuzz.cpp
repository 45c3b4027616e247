// Feeds arbitrary bytes, cut into lines, to the collector of reply header fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cloud/http/response_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kLimit = 512;
    brisel::cloud::HttpResponseHeaders headers(kLimit);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        end = end == std::string_view::npos ? input.size() : end + 1;
        headers.addLine(input.substr(start, end - start));
        start = end;
    }
    std::size_t stored = 0;
    for (const auto& field : headers.fields()) {
        // Names are never empty and never hold a colon, a blank or a line end; values hold no line end.
        if (field.name.empty() || field.name.find_first_of(": \t\n") != std::string::npos ||
            field.value.find('\n') != std::string::npos) {
            std::abort();
        }
        stored += field.name.size() + field.value.size();
    }
    // The fields kept never take more room than the lines of one reply may.
    if (stored > kLimit) {
        std::abort();
    }
    return 0;
}
