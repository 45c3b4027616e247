// A bounded wait for something another thread or process brings about.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>

namespace brisel::test_support {

// How long a wait looks for its condition unless told otherwise.
inline constexpr std::chrono::milliseconds kDefaultPatience{5000};

// Checks `condition` until it holds, sleeping briefly between tries; false when `limit` passes first.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = kDefaultPatience) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A value a wait saw, as its failure shows it: text as it is, anything else as GoogleTest prints it.
template <typename Value>
std::string describeSeen(const Value& value) {
    if constexpr (std::is_convertible_v<const Value&, std::string_view>) {
        return std::string(std::string_view(value));
    } else {
        return ::testing::PrintToString(value);
    }
}

// Reads `observe()` until `holds(value)` is true of the value read, for EXPECT_TRUE and ASSERT_TRUE.
// When `limit` passes first, the failure names `expectation` and shows the value read last.
template <typename Observe, typename Holds>
::testing::AssertionResult eventuallySees(Observe observe, Holds holds, std::string_view expectation,
                                          std::chrono::milliseconds limit = kDefaultPatience) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto seen = observe();
        if (holds(seen)) {
            return ::testing::AssertionSuccess();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return ::testing::AssertionFailure()
                   << "waited " << limit.count() << " ms for " << expectation << "; last seen:\n"
                   << describeSeen(seen);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Waits until `observe()` equals `expected`; the failure shows the value read last.
template <typename Observe, typename Expected>
::testing::AssertionResult eventuallyEquals(Observe observe, const Expected& expected,
                                            std::chrono::milliseconds limit = kDefaultPatience) {
    return eventuallySees(
        std::move(observe), [&](const auto& seen) { return seen == expected; },
        ::testing::PrintToString(expected), limit);
}

// Waits until the text that `read()` returns (a log, a file, a process's output) contains `needle`;
// the failure shows the text read last.
template <typename Read>
::testing::AssertionResult eventuallyContains(Read read, std::string_view needle,
                                              std::chrono::milliseconds limit = kDefaultPatience) {
    return eventuallySees(
        std::move(read), [&](const std::string& text) { return text.find(needle) != std::string::npos; },
        "\"" + std::string(needle) + "\"", limit);
}

// How often `needle` occurs in `text`.
inline std::size_t occurrences(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); !needle.empty() && at != std::string_view::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

}  // namespace brisel::test_support
