// The error of a serial link to a board.
#pragma once

#include <string>

namespace brisel::device {

struct PortError {
    // Cases in their fixed order. failedToRead and failedToWrite carry a detail text.
    enum class Kind {
        failedToRead,
        failedToWrite,
        failedToOpen,
        invalidPath,
        mustReceiveOrTransmit,
        mustBeOpen,
        stringsMustBeUTF8,
        unableToConvertByteToCharacter,
        deviceNotConnected,
    };

    Kind kind;
    std::string detail;  // empty for every kind but failedToRead and failedToWrite

    friend bool operator==(const PortError&, const PortError&) = default;
};

// The case name, e.g. "deviceNotConnected"; with a detail, "failedToRead(\"Input/output error\")".
std::string toString(const PortError& error);

}  // namespace brisel::device
