// Waiting in desktop tests: the main loop runs while a condition is awaited, with a bound.
#pragma once

#include <chrono>
#include <functional>

namespace brisel::desktop_test {

// Runs the main loop until `condition` holds; false when `bound` passed first.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = std::chrono::seconds(30));

}  // namespace brisel::desktop_test
