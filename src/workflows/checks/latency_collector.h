// The latency lines that a serial live classification gathers for a model without a measured latency.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace brisel::workflows {

// Not thread-safe: one run owns it.
class LatencyCollector {
  public:
    enum class State { collecting, done };

    // The values a report is made of; the first is left out of the average.
    static constexpr std::size_t kValuesWanted = 10;

    explicit LatencyCollector(State initial) : state(initial) {}

    // Treats one board line while collecting: a latency line adds its value (one too large for a
    // signed 64-bit integer is logged and ignored). The tenth value ends the collection and gives the
    // average of values 2 to 10, truncated toward zero; a sum beyond the 64-bit range gives none (logged)
    // and also ends it. Every other call gives none.
    std::optional<std::int64_t> treat(std::string_view line);

    bool collecting() const { return state == State::collecting; }

  private:
    State state;
    std::vector<std::int64_t> values;
};

}  // namespace brisel::workflows
