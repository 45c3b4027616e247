// The payload of an outgoing text frame.
#pragma once

#include <optional>
#include <string_view>

namespace brisel::frame {

// The bytes sent for `text`: first white space and line breaks (the Unicode White_Space characters)
// are removed from both ends, then control and format characters (general categories Cc and Cf) from
// both ends of what is left. The result, a part of `text`, may be empty. Gives none when `text` is not
// valid UTF-8. Pure; any thread.
std::optional<std::string_view> outgoingFramePayload(std::string_view text);

}  // namespace brisel::frame
