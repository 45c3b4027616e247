// Standalone asio for the WiFi link. g++ reports a "potential null pointer dereference" inside asio's
// scheduler once it is inlined at -O2; that code is not ours, so the warning is silenced for it only.
#pragma once

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <asio.hpp>
#pragma GCC diagnostic pop
