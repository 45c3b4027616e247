// Collects the outcomes that an asynchronous completion delivers, with the queue each ran on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/dispatch.h"

namespace brisel::test_support {

// The completion it hands out may outlive the probe: it keeps the shared state alive.
template <class Outcome>
class CallProbe {
  public:
    struct Delivery {
        Outcome outcome;
        std::string queueLabel;  // common::currentQueueLabel() where the completion ran
    };

    // A completion that records each outcome it receives.
    auto completion() const {
        return [state = state](Outcome outcome) {
            const std::lock_guard lock(state->mutex);
            state->deliveries.push_back(Delivery{std::move(outcome), common::currentQueueLabel()});
            state->delivered.notify_all();
        };
    }

    // The first outcome, waiting at most `timeout`; none when nothing arrived.
    std::optional<Delivery> waitForFirst(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(state->mutex);
        if (!state->delivered.wait_for(lock, timeout, [this] { return !state->deliveries.empty(); })) {
            return std::nullopt;
        }
        return state->deliveries.front();
    }

    std::size_t count() const {
        const std::lock_guard lock(state->mutex);
        return state->deliveries.size();
    }

  private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable delivered;
        std::vector<Delivery> deliveries;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
};

}  // namespace brisel::test_support
