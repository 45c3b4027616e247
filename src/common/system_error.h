// Readable descriptions of operating-system error numbers.
#pragma once

#include <string>

namespace brisel::common {

// The system's description of an errno value, for example "No such file or directory".
// Thread-safe.
std::string describeErrno(int errorNumber);

}  // namespace brisel::common
