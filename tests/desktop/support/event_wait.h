// Waiting in desktop tests: the main loop runs while a condition is awaited, with a bound.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brisel::desktop_test {

// Runs the main loop until `condition` holds; false when `bound` passed first.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = std::chrono::seconds(30));

// A value a wait saw, as its failure shows it.
std::string describeSeen(const QString& text);
std::string describeSeen(const QStringList& texts);
template <typename Value>
std::string describeSeen(const Value& value) {
    return ::testing::PrintToString(value);
}

// Runs the main loop until `holds(observe())`, for EXPECT_TRUE and ASSERT_TRUE. When `bound` passes
// first, the failure names `expectation` and shows the value read last.
template <typename Observe, typename Holds>
::testing::AssertionResult waitUntilSees(Observe observe, Holds holds, std::string_view expectation,
                                         std::chrono::milliseconds bound = std::chrono::seconds(30)) {
    std::optional<decltype(observe())> seen;
    if (waitUntil(
            [&] {
                seen = observe();
                return holds(*seen);
            },
            bound)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "waited " << bound.count() << " ms for " << expectation
                                         << "; last seen: " << describeSeen(*seen);
}

}  // namespace brisel::desktop_test
