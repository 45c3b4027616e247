// Upload of a recorded sample file through the streaming uploader, and through the bare HTTP session
// under it, against the curl command-line tool, all posting the same 256 MiB file to the same fake cloud
// on the loopback interface. Prints the ratios of their mean times (uploader target: at most 1.1).
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "cloud/http/session.h"
#include "cloud/streaming_uploader.h"
#include "support/fake_cloud.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t kFileBytes = std::size_t{256} * 1024 * 1024;
constexpr int kIterations = 3;

struct Measurements {
    double uploaderSeconds = 0;
    double sessionSeconds = 0;
    double curlToolSeconds = 0;
};
Measurements measured;

const fs::path& benchFolder() {
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "brisel-upload-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return fs::path(pattern);
    }();
    return folder;
}

// The recorded file, written once; each upload gets a hard link to it, which the uploader deletes.
const fs::path& recordedFile() {
    static const fs::path file = [] {
        fs::path path = benchFolder() / "recorded.bin";
        std::ofstream out(path, std::ios::binary);
        const std::string block(std::size_t{1024} * 1024, 'x');
        for (std::size_t written = 0; written < kFileBytes; written += block.size()) {
            out << block;
        }
        return path;
    }();
    return file;
}

void uploaderUpload(benchmark::State& state) {
    brisel::test::FakeCloud cloud;
    cloud.reply("POST", "/api/collection/1/json", brisel::test::ScriptedReply::json(200, "{}"));
    brisel::cloud::Authorization authorization;
    authorization.setSharedBaseURLAndCookie(cloud.baseUrl(), "token");
    const fs::path collections = benchFolder() / "velko_brisel_collection";
    const fs::path segment = collections / "1" / "sensors_0.bin";
    brisel::cloud::UploaderSettings settings;
    settings.authorization = &authorization;
    settings.collectionsFolder = collections;
    auto uploader =
        brisel::cloud::StreamingUploader::create(1, 1, brisel::common::DeviceKind::NANO_33_BLE, settings);
    for (auto _ : state) {
        state.PauseTiming();
        fs::create_directories(segment.parent_path());
        fs::create_hard_link(recordedFile(), segment);
        state.ResumeTiming();
        uploader->process(segment, 0, true);
        while (uploader->streamerRunning()) {
            std::this_thread::sleep_for(1ms);
        }
        if (fs::exists(segment)) {
            state.SkipWithError("upload failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}

void sessionUpload(benchmark::State& state) {
    brisel::test::FakeCloud cloud;
    cloud.reply("POST", "/api/collection/1/json", brisel::test::ScriptedReply::json(200, "{}"));
    brisel::cloud::HttpSession session;
    const std::string url = cloud.baseUrl() + "/api/collection/1/json?first_packet_index=0";
    for (auto _ : state) {
        std::promise<bool> done;
        session.submit({.method = "POST", .url = url, .body = brisel::cloud::HttpFileBody{recordedFile()}},
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
    const std::string command =
        "curl -sS -o /dev/null -H 'X-brisel-api-key: token' -H 'Content-Type:' -H 'Expect:' "
        "--data-binary @" +
        recordedFile().string() + " '" + cloud.baseUrl() + "/api/collection/1/json?first_packet_index=0'";
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
            if (run.benchmark_name().starts_with("uploaderUpload")) {
                measured.uploaderSeconds = seconds;
            } else if (run.benchmark_name().starts_with("sessionUpload")) {
                measured.sessionSeconds = seconds;
            } else if (run.benchmark_name().starts_with("curlToolUpload")) {
                measured.curlToolSeconds = seconds;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(uploaderUpload)->Iterations(kIterations)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sessionUpload)->Iterations(kIterations)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(curlToolUpload)->Iterations(kIterations)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    // The uploader logs through the service's logger, whose file lies under HOME: keep it away from
    // the real home.
    setenv("HOME", benchFolder().c_str(), 1);  // NOLINT(concurrency-mt-unsafe): before any thread starts
    benchmark::Initialize(&argc, argv);
    MeanRecorder reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(benchFolder(), ignored);
    if (measured.uploaderSeconds > 0 && measured.curlToolSeconds > 0) {
        std::printf("upload of %zu MiB: streaming uploader / curl tool = %.2f\n",
                    kFileBytes / (std::size_t{1024} * 1024),
                    measured.uploaderSeconds / measured.curlToolSeconds);
    }
    if (measured.sessionSeconds > 0 && measured.curlToolSeconds > 0) {
        std::printf("upload of %zu MiB: HTTP session / curl tool = %.2f\n",
                    kFileBytes / (std::size_t{1024} * 1024),
                    measured.sessionSeconds / measured.curlToolSeconds);
    }
    return 0;
}
