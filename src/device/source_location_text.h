// "<file>:<line>" of a call, for the log lines of the device link that name where they come from.
#pragma once

#include <source_location>
#include <string>

namespace brisel::device {

std::string sourceLocationText(std::source_location location = std::source_location::current());

}  // namespace brisel::device
