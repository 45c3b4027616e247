// Upload throughput of the HTTP session against the curl command-line tool, both posting the same
// file to the same fake cloud on the loopback interface. Prints the ratio of their mean times.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include <benchmark/benchmark.h>

#include "cloud/http_session.h"
#include "support/fake_cloud.h"

namespace {

constexpr std::size_t kFileBytes = std::size_t{32} * 1024 * 1024;
constexpr int kIterations = 4;

struct Measurements {
    double sessionSeconds = 0;
    double curlToolSeconds = 0;
};
Measurements measured;

std::filesystem::path sampleFile() {
    static const std::filesystem::path path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "brisel-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        std::filesystem::path file = std::filesystem::path(pattern) / "sensors_0.bin";
        std::ofstream(file, std::ios::binary) << std::string(kFileBytes, 'x');
        return file;
    }();
    return path;
}

void sessionUpload(benchmark::State& state) {
    brisel::test::FakeCloud cloud;
    cloud.reply("POST", "/api/collection/1/json", brisel::test::ScriptedReply::json(200, "{}"));
    brisel::cloud::HttpSession session;
    const std::string url = cloud.baseUrl() + "/api/collection/1/json?first_packet_index=0";
    for (auto _ : state) {
        std::promise<bool> done;
        session.submit({.method = "POST", .url = url, .body = brisel::cloud::HttpFileBody{sampleFile()}},
                       [&done](const brisel::cloud::HttpResult& result) { done.set_value(!result.error); });
        if (!done.get_future().get()) {
            state.SkipWithError("upload failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}

void curlToolUpload(benchmark::State& state) {
    brisel::test::FakeCloud cloud;
    cloud.reply("POST", "/api/collection/1/json", brisel::test::ScriptedReply::json(200, "{}"));
    const std::string command = "curl -sS -o /dev/null -H 'Content-Type:' -H 'Expect:' --data-binary @" +
                                sampleFile().string() + " '" + cloud.baseUrl() +
                                "/api/collection/1/json?first_packet_index=0'";
    for (auto _ : state) {
        // The benchmark runs on one thread, so the shell is started from one thread only.
        if (std::system(command.c_str()) != 0) {  // NOLINT(concurrency-mt-unsafe)
            state.SkipWithError("the curl tool failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}

class MeanRecorder : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const double seconds = run.GetAdjustedRealTime() / 1e9;
            if (run.benchmark_name().starts_with("sessionUpload")) {
                measured.sessionSeconds = seconds;
            } else if (run.benchmark_name().starts_with("curlToolUpload")) {
                measured.curlToolSeconds = seconds;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(sessionUpload)->Iterations(kIterations)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(curlToolUpload)->Iterations(kIterations)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    MeanRecorder reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(sampleFile().parent_path(), ignored);
    if (measured.sessionSeconds > 0 && measured.curlToolSeconds > 0) {
        std::printf("upload of %zu MiB: session / curl tool = %.2f\n",
                    kFileBytes / (std::size_t{1024} * 1024),
                    measured.sessionSeconds / measured.curlToolSeconds);
    }
    return 0;
}
