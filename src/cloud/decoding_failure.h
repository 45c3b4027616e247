// The message of a reply body that does not decode into the record the caller asked for.
#pragma once

#include <string>

#include "common/json_codec.h"

namespace brisel::cloud {

// The REST client's text for a decoding failure, by its kind (the path is the key path of the failing
// value, "the top value" for the whole body):
// - a key missing:   "Failed to decode JSON, key '<key>' not found (<reason>), codingPath: <path>"
// - a null value:    "Failed to decode JSON, value '<type>' not found (<reason>), codingPath: <path>",
//                    <type> the name of the value's expected type (`common::jsonTypeName`)
// - a wrong type:    "Failed to decode JSON, Type '<type>' does not match the value: <reason>, codingPath:
// <path>"
// - corrupt data (not JSON, not UTF-8, an unknown enumeration text, a number out of range):
//                    "Failed to decode JSON (<path>: <reason>)"
// - anything else:   "Failed to decode JSON, <path>: <reason>"
// The reason and path are written as they are: callers quote text from peers before logging it.
// Pure; any thread.
std::string decodingFailureText(const common::JsonError& error);

}  // namespace brisel::cloud
