#include "common/system_error.h"

#include <cstring>

namespace brisel::common {

std::string describeErrno(int errorNumber) {
    char buffer[256] = {};
    // GNU strerror_r: returns a pointer to the text, which may or may not be the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : "error " + std::to_string(errorNumber);
}

}  // namespace brisel::common
