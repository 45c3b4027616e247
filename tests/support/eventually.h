// A bounded wait for something another thread or process brings about.
#pragma once

#include <chrono>
#include <thread>

namespace brisel::test_support {

// Checks `condition` until it holds, sleeping briefly between tries; false when `limit` passes first.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace brisel::test_support
