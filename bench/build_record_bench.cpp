// Strict decoding of a complete build record against nlohmann's plain parse of the same text.
// Prints the ratio of the two mean times (target: at most 2).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "cloud/build_records.h"
#include "common/json_codec.h"

namespace {

const std::string& buildText() {
    static const std::string text = [] {
        std::ifstream file(std::string{BRISEL_SOURCE_DIR} + "/tests/cloud/fixtures/build_response.json",
                           std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }();
    return text;
}

void plainParse(benchmark::State& state) {
    for (auto _ : state) {
        nlohmann::json json = nlohmann::json::parse(buildText());
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(buildText().size()));
}
BENCHMARK(plainParse)->MinTime(0.5);

void decodeBuildRecord(benchmark::State& state) {
    for (auto _ : state) {
        auto build = brisel::common::decodeJsonText<brisel::cloud::BuildResponse>(buildText());
        if (!build) {
            state.SkipWithError("the build fixture did not decode");
            break;
        }
        benchmark::DoNotOptimize(build);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(buildText().size()));
}
BENCHMARK(decodeBuildRecord)->MinTime(0.5);

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
    if (buildText().empty()) {
        std::fprintf(stderr, "build fixture not found under %s\n", BRISEL_SOURCE_DIR);
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double reference = reporter.nanoseconds["plainParse"];
    const double measured = reporter.nanoseconds["decodeBuildRecord"];
    if (reference > 0.0) {
        std::printf("build record of %zu bytes: strict decode / plain parse = %.2f (target <= 2)\n",
                    buildText().size(), measured / reference);
    }
    benchmark::Shutdown();
    return 0;
}
