// The limits under which an `HttpSession` runs its requests.
#pragma once

#include <chrono>
#include <cstddef>

namespace brisel::cloud {

// The most body bytes a reply that carries a cloud record may have; the session's default limit.
inline constexpr std::size_t kRecordReplyBodyLimit = std::size_t{4} * 1024 * 1024;

struct HttpSessionOptions {
    // A try fails with `timedOut` when no byte moved in either direction for this long, connecting
    // included. There is no bound on the whole transfer: a slow upload that keeps moving goes on.
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(60)};
    // A reply body larger than this fails with `responseTooLarge`, unless the request sets a limit of
    // its own (`HttpRequest::maxResponseBodyBytes`). A reply never holds more memory than its limit.
    std::size_t maxResponseBodyBytes = kRecordReplyBodyLimit;
    // Header lines of one reply larger than this in all fail with `responseTooLarge`.
    std::size_t maxResponseHeaderBytes = std::size_t{256} * 1024;
    // A redirect chain longer than this fails with `tooManyRedirects`.
    int maxRedirects = 16;
};

}  // namespace brisel::cloud
