// Decode-and-choose of a 4 KiB relayed Bluetooth frame against nlohmann's plain parse of the same text.
// Prints the ratio of the two mean times (target: at most 1.5).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "frame/route_decoding.h"

namespace {

std::string bluetoothFrame() {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text = R"({"saveDataCollectionBluetooth":true,"data":[)";
    text += std::to_string(byte(random));
    while (text.size() < 4096 - 6) {
        text += "," + std::to_string(byte(random));
    }
    text += "]}";
    return text;
}

const std::string& frame() {
    static const std::string text = bluetoothFrame();
    return text;
}

void plainParse(benchmark::State& state) {
    for (auto _ : state) {
        nlohmann::json json = nlohmann::json::parse(frame());
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame().size()));
}
BENCHMARK(plainParse);

void decodeAndChoose(benchmark::State& state) {
    for (auto _ : state) {
        auto request = brisel::frame::decodeAndChoose(frame());
        if (!request) {
            state.SkipWithError("frame did not decode");
            break;
        }
        benchmark::DoNotOptimize(request);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame().size()));
}
BENCHMARK(decodeAndChoose);

// Keeps each run's time per iteration so that the ratio can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.iterations > 0) {
                nanoseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> nanoseconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double reference = reporter.nanoseconds["plainParse"];
    const double measured = reporter.nanoseconds["decodeAndChoose"];
    if (reference > 0.0) {
        std::printf("frame of %zu bytes: decode-and-choose / plain parse = %.2f (target <= 1.5)\n",
                    frame().size(), measured / reference);
    }
    benchmark::Shutdown();
    return 0;
}
