// Runs the main thread's event loop until a condition holds, with a bound.
#pragma once

#include <chrono>
#include <functional>

namespace brisel::desktop::components::test {

// Processes events until `condition` is true (checked before each round) or `bound` has passed.
// Answers whether the condition held.
bool runEventsUntil(const std::function<bool()>& condition,
                    std::chrono::milliseconds bound = std::chrono::seconds(20));

}  // namespace brisel::desktop::components::test
