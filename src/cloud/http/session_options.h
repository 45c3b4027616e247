// The limits under which an `HttpSession` runs its requests.
#pragma once

#include <chrono>
#include <cstddef>

namespace brisel::cloud {

struct HttpSessionOptions {
    // A try fails with `timedOut` when no byte moved in either direction for this long, connecting
    // included. There is no bound on the whole transfer: a slow upload that keeps moving goes on.
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(60)};
    // A reply body larger than this fails with `responseTooLarge`.
    std::size_t maxResponseBodyBytes = std::size_t{512} * 1024 * 1024;
    // Header lines of one reply larger than this in all fail with `responseTooLarge`.
    std::size_t maxResponseHeaderBytes = std::size_t{256} * 1024;
    // A redirect chain longer than this fails with `tooManyRedirects`.
    int maxRedirects = 16;
};

}  // namespace brisel::cloud
