// The handshake check on any Host and Origin values (the input split at its first NUL byte): never a
// crash, a served handshake names a loopback Host and a listed Origin, and a refusal, which reaches the
// log, is valid UTF-8 without control characters.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/utf8.h"
#include "frame/handshake_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    const std::string_view host = input.substr(0, split);
    const std::string_view origin =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    static const brisel::frame::HandshakeCheck listed({"https://studio.example.com"});
    const auto refusal = listed.refusal(host, origin, 4751);
    if (!refusal) {
        constexpr std::array<std::string_view, 6> kServedHosts = {
            "localhost", "127.0.0.1", "[::1]", "localhost:4751", "127.0.0.1:4751", "[::1]:4751"};
        bool loopback = false;
        for (const auto served : kServedHosts) {
            loopback = loopback || host == served;
        }
        if (!loopback || origin != "https://studio.example.com") {
            std::abort();
        }
        return 0;
    }
    for (const char c : *refusal) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            std::abort();
        }
    }
    if (!brisel::common::isValidUtf8(*refusal)) {
        std::abort();
    }
    return 0;
}
