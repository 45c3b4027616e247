#include "workflows/checks/latency_collector.h"

#include "common/logger.h"
#include "workflows/board_text.h"

namespace brisel::workflows {

std::optional<std::int64_t> LatencyCollector::treat(std::string_view line) {
    if (state != State::collecting) {
        return std::nullopt;
    }
    const LatencyLine latency = readLatencyLine(line);
    if (latency.kind == LatencyLineKind::malformed) {
        common::logger().warning("Malformed value received, ignoring");
        return std::nullopt;
    }
    if (latency.kind != LatencyLineKind::value) {
        return std::nullopt;
    }
    values.push_back(latency.value);
    if (values.size() < kValuesWanted) {
        return std::nullopt;
    }
    state = State::done;
    std::int64_t sum = 0;
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (__builtin_add_overflow(sum, values[i], &sum)) {
            common::logger().warning("Latency values too large to average, latency not reported");
            return std::nullopt;
        }
    }
    return sum / static_cast<std::int64_t>(kValuesWanted - 1);
}

}  // namespace brisel::workflows
