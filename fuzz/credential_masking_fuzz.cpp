// Masking the credential in received texts: any bytes, never a crash or an out-of-bounds read, and a
// masked text is left as it is by a second masking.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "frame/credential_masking.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string masked = brisel::frame::maskedCredentials(text);
    if (brisel::frame::maskedCredentials(masked) != masked) {
        std::abort();
    }
    return 0;
}
