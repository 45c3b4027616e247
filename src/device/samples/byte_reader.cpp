#include "device/samples/byte_reader.h"

namespace brisel::device {

VRCDataExtensionError outOfRangeError() {
    return VRCDataExtensionError{"Access memory out of data.", VRCDataExtensionError::Type::outOfRangeError};
}

}  // namespace brisel::device
