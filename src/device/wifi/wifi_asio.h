// Standalone asio for the WiFi link. Inlined at -O2, asio's own code trips two g++ diagnostics that
// are not about our code: a "potential null pointer dereference" in its scheduler and, under
// -fsanitize=thread, its use of std::atomic_thread_fence. They are silenced for asio only.
#pragma once

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wtsan"
#endif
#include <asio.hpp>
#pragma GCC diagnostic pop
