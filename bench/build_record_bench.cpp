// Strict decoding of a complete build record against nlohmann's plain parse of the same text.
// Prints the ratio of the two fastest repetitions (target: at most 2).
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
BENCHMARK(plainParse)->MinTime(0.2)->Repetitions(5);

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
BENCHMARK(decodeBuildRecord)->MinTime(0.2)->Repetitions(5);

// Keeps each benchmark's fastest repetition (time per iteration), so that the ratio printed after the
// table is not skewed by other work on a shared machine.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.iterations == 0 || run.run_type != Run::RT_Iteration) {
                continue;
            }
            const double time = run.GetAdjustedRealTime();
            const auto [entry, inserted] = nanoseconds.try_emplace(run.run_name.function_name, time);
            if (!inserted && time < entry->second) {
                entry->second = time;
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
