// Masking the credential in received texts: any bytes, never a crash or an out-of-bounds read, and
// text that cannot hold the key (not even escaped) is logged unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "frame/credential_masking.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string masked = brisel::frame::maskedCredentials(text);
    const bool mayHoldTheKey =
        text.find("auth_token") != std::string_view::npos || text.find('\\') != std::string_view::npos;
    if (!mayHoldTheKey && masked != text) {
        std::abort();
    }
    return 0;
}
