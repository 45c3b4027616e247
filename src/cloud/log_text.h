// Text from peers made safe for one log line.
#pragma once

#include <string>
#include <string_view>

namespace brisel::cloud {

// `text` in double quotes, with quotes and backslashes escaped and control characters written as
// \u{XX}, so that it can never end a log line or forge another one. Pure; any thread.
std::string quotedForLog(std::string_view text);

}  // namespace brisel::cloud
