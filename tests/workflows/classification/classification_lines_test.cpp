// What a serial live classification run makes of a board's text, beyond what the end-to-end tests
// show: the bounds of the line assembler and of the latency average.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "workflows/checks/latency_collector.h"
#include "workflows/serial_line_assembler.h"

namespace brisel::workflows {
namespace {

using Lines = std::vector<std::string>;

TEST(SerialLineAssemblerTest, LinesCutByReadsAreJoinedAndOverlongOnesDropped) {
    const std::string overlong(SerialLineAssembler::kMaxLineBytes + 1, 'A');
    struct Row {
        const char* label;
        std::vector<std::string> reads;
        Lines lines;  // every line completed by the reads, in order
    };
    const std::vector<Row> rows{
        {"whole lines", {"a\r\nb\r\n"}, {"a", "b"}},
        {"a line over two reads", {"PRED: 1, 0", ".2,0.8\r\nSCORE"}, {"PRED: 1, 0.2,0.8"}},
        {"CR and LF in different reads", {"a\r", "\nb\n"}, {"a", "b"}},
        {"an unfinished line waits", {"a\nb"}, {"a"}},
        {"an overlong line is dropped up to its break", {overlong, "tail\nnext\n"}, {"next"}},
        {"an overlong line in one read", {overlong + "\nnext\n"}, {overlong, "next"}},
        {"a dropped line may span more reads", {overlong, "more", "\nnext\n"}, {"next"}},
        {"a line separator cut by a read",
         {"a\xE2\x80",
          "\xA8"
          "b\n"},
         {"a", "b"}},
        {"a line in one-byte reads", {"L", "A", "T", "\r", "\n"}, {"LAT"}},
    };
    for (const auto& row : rows) {
        SerialLineAssembler assembler;
        Lines lines;
        for (const auto& read : row.reads) {
            for (auto& line : assembler.feed(read)) {
                lines.push_back(std::move(line));
            }
        }
        EXPECT_EQ(lines, row.lines) << row.label;
    }
}

TEST(LatencyCollectorTest, TheTenthValueGivesTheAverageOfTheLastNineOnce) {
    test_support::LogCapture log;
    LatencyCollector collector(LatencyCollector::State::collecting);
    std::vector<std::optional<std::int64_t>> reports;
    for (const std::string line :
         {"LATENCY: 10", "LATENCY: 99999999999999999999", "PRED: 1", "LATENCY: 1", "LATENCY: 1", "LATENCY: 1",
          "LATENCY: 1", "LATENCY: 1", "LATENCY: 1", "LATENCY: 1", "LATENCY: 1", "LATENCY: 2", "LATENCY: 7"}) {
        if (auto average = collector.treat(line)) {
            reports.push_back(average);
        }
    }
    EXPECT_EQ(reports, (std::vector<std::optional<std::int64_t>>{1}));  // (8 x 1 + 2) / 9, the 11th ignored
    EXPECT_FALSE(collector.collecting());
    EXPECT_EQ(log.count("Malformed value received, ignoring"), 1U);

    LatencyCollector known(LatencyCollector::State::done);
    LatencyCollector huge(LatencyCollector::State::collecting);
    const std::string largest = "LATENCY: " + std::to_string(std::numeric_limits<std::int64_t>::max());
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(known.treat("LATENCY: 1"));
        EXPECT_FALSE(huge.treat(largest));  // a sum beyond 64 bits is no value
    }
    EXPECT_FALSE(huge.collecting());
}

}  // namespace
}  // namespace brisel::workflows
