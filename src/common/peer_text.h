// Text that came from outside the service (board bytes, browser messages, cloud replies, header values),
// made fit for one log line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brisel::common {

// How the text stands in its line.
enum class PeerTextForm {
    // As it came, apart from the escapes: for text that closes its line and reads best unchanged (a
    // browser's JSON message, a board's bytes, a library's line).
    plain,
    // In double quotes, with quotes and backslashes escaped as \" and \\: for text set among the line's
    // own words, where its end must be plain to see.
    quoted,
};

// The most bytes of escaped text that one log line carries of a peer's text.
inline constexpr std::size_t kPeerTextLogLimit = 4096;

// `text` for a log line. Every control character (U+0000-U+001F, U+007F-U+009F), line and paragraph
// separator (U+2028, U+2029) and bidirectional formatting character is written as \u{XX} (its code point
// in upper-case hex, at least two digits), and every byte that starts no well-formed UTF-8 sequence as
// \x{XX}: a peer can neither end the line nor make it look like another, and the result is valid
// UTF-8. When the escaped text would pass `limit` bytes, it is cut before the first character that
// does not fit and followed by "... (<n> bytes in all)", n being the size of `text`. Pure; any thread.
std::string peerTextForLog(std::string_view text, PeerTextForm form = PeerTextForm::plain,
                           std::size_t limit = kPeerTextLogLimit);

}  // namespace brisel::common
