#include "device/byte_source.h"

namespace brisel::device {

std::string_view linkErrorName(LinkError error) {
    switch (error) {
        case LinkError::mustBeOpen:
            return "mustBeOpen";
        case LinkError::deviceNotConnected:
            return "deviceNotConnected";
        case LinkError::readFailed:
            return "readFailed";
    }
    return "unknown";
}

}  // namespace brisel::device
