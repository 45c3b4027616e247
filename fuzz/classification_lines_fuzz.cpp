// Feeds arbitrary bytes, cut into reads at every 0xFF byte, through what a live classification run does
// with a board's text: the line assembler, the prediction tracker of both links and the latency
// collector. Every line handed on must be a whole line of the input and no longer than the assembler's
// bound allows; every prediction message must encode as JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/json_codec.h"
#include "workflows/checks/latency_collector.h"
#include "workflows/classification/prediction_tracker.h"
#include "workflows/serial_line_assembler.h"

namespace {

using namespace brisel::workflows;

void checkEncodes(const PredictionMessage& message) {
    if (!brisel::common::encodeJsonText(message)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    SerialLineAssembler assembler;
    PredictionTracker serial(PredictionTracker::Link::serial);
    PredictionTracker wifi(PredictionTracker::Link::wifi);
    LatencyCollector latencies(LatencyCollector::State::collecting);
    std::string joined;  // the input without the read marks
    std::size_t start = 0;
    while (start <= input.size()) {
        const std::size_t mark = input.find('\xff', start);
        const std::string_view read =
            input.substr(start, mark == std::string_view::npos ? std::string_view::npos : mark - start);
        joined.append(read);
        for (const auto& line : assembler.feed(read)) {
            if (line.empty() || joined.find(line) == std::string::npos) {
                std::abort();  // a line that is not a piece of the board's text
            }
            (void)latencies.treat(line);
            if (auto message = serial.treat(line)) {
                checkEncodes(*message);
            }
            if (auto message = wifi.treat(line)) {
                checkEncodes(*message);
            }
        }
        if (mark == std::string_view::npos) {
            break;
        }
        start = mark + 1;
    }
    checkEncodes(serial.lastMessage());
    return 0;
}
