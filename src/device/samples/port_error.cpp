#include "device/samples/port_error.h"

#include <string_view>

namespace brisel::device {
namespace {

std::string_view kindName(PortError::Kind kind) {
    switch (kind) {
        case PortError::Kind::failedToRead:
            return "failedToRead";
        case PortError::Kind::failedToWrite:
            return "failedToWrite";
        case PortError::Kind::failedToOpen:
            return "failedToOpen";
        case PortError::Kind::invalidPath:
            return "invalidPath";
        case PortError::Kind::mustReceiveOrTransmit:
            return "mustReceiveOrTransmit";
        case PortError::Kind::mustBeOpen:
            return "mustBeOpen";
        case PortError::Kind::stringsMustBeUTF8:
            return "stringsMustBeUTF8";
        case PortError::Kind::unableToConvertByteToCharacter:
            return "unableToConvertByteToCharacter";
        case PortError::Kind::deviceNotConnected:
            return "deviceNotConnected";
    }
    return "unknown";
}

bool carriesDetail(PortError::Kind kind) {
    return kind == PortError::Kind::failedToRead || kind == PortError::Kind::failedToWrite;
}

}  // namespace

std::string toString(const PortError& error) {
    std::string text(kindName(error.kind));
    if (carriesDetail(error.kind)) {
        text += "(\"" + error.detail + "\")";
    }
    return text;
}

}  // namespace brisel::device
