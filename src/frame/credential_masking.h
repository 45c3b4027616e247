// Keeps the browser's cloud credential out of log lines.
#pragma once

#include <string>
#include <string_view>

namespace brisel::frame {

// `text` with the value of every "auth_token" member replaced by "***" (a string value keeps its
// quotes: "auth_token":"***"). Keys are compared after JSON unescaping, at any depth; the rest of the
// text is kept byte for byte, also when it is not valid JSON. Pure; any thread.
std::string maskedCredentials(std::string_view text);

}  // namespace brisel::frame
