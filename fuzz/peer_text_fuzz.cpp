// Feeds arbitrary bytes (the first two choose the bound) to the log form of peer text, plain and quoted:
// the result is one line of valid UTF-8 without control, separator or bidirectional formatting
// characters, its escaped text never passes the bound, and text that needs no escape and fits is kept
// as it is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/peer_text.h"
#include "common/utf8.h"

namespace {

using brisel::common::PeerTextForm;

bool holdsUnsafeCharacter(std::string_view text) {
    constexpr std::string_view kUnsafeSequences[] = {
        "\xC2\x80",     "\xC2\x85",     "\xC2\x9F",     "\xD8\x9C",     "\xE2\x80\x8E", "\xE2\x80\x8F",
        "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAA", "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA9"};
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return true;
        }
    }
    for (const auto sequence : kUnsafeSequences) {
        if (text.find(sequence) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

void check(std::string_view text, PeerTextForm form, std::size_t limit) {
    const std::string logged = brisel::common::peerTextForLog(text, form, limit);
    if (!brisel::common::isValidUtf8(logged) || holdsUnsafeCharacter(logged)) {
        std::abort();
    }
    const std::string suffix = "... (" + std::to_string(text.size()) + " bytes in all)";
    const bool cut = logged.size() >= suffix.size() && logged.ends_with(suffix);
    const std::size_t quotes = form == PeerTextForm::quoted ? 2 : 0;
    if (logged.size() - (cut ? suffix.size() : 0) > limit + quotes) {
        std::abort();
    }
    const bool needsNoEscape = brisel::common::isValidUtf8(text) && !holdsUnsafeCharacter(text) &&
                               text.find_first_of("\\\"\xC2\xD8\xE2") == std::string_view::npos;
    if (form == PeerTextForm::plain && needsNoEscape && text.size() <= limit && logged != text) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t limit =
        static_cast<std::size_t>(data[0]) | (static_cast<std::size_t>(data[1] & 0x0F) << 8U);
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    check(text, PeerTextForm::plain, limit);
    check(text, PeerTextForm::quoted, limit);
    return 0;
}
