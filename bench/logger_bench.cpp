// Lines per second through the Logger into a file (standard output sent to /dev/null), against
// plain buffered fwrite of lines of the same length into a file, measured in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>

#include "bench_folder.h"
#include "common/logger.h"

namespace {

const std::string kMessage = "WIFI: received 512 bytes from board 3, packet index 123456, state CAPTURING";

// Sends standard output to /dev/null for the life of the object.
class SilencedStandardOutput {
  public:
    SilencedStandardOutput() {
        std::fflush(stdout);
        saved = ::dup(STDOUT_FILENO);
        int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(devNull, STDOUT_FILENO);
        ::close(devNull);
    }
    ~SilencedStandardOutput() {
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
    }
    SilencedStandardOutput(const SilencedStandardOutput&) = delete;
    SilencedStandardOutput& operator=(const SilencedStandardOutput&) = delete;

  private:
    int saved = -1;
};

void loggerToFile(benchmark::State& state) {
    auto file = benchFolder() / "logger.log";
    std::filesystem::remove(file);
    brisel::common::Logger log("Bench Logger", brisel::common::LogLevels::info, file);
    SilencedStandardOutput silence;
    for (auto _ : state) {
        log.info(kMessage);
    }
    log.flush();  // the lines are in the file before the clock stops
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(loggerToFile)->UseRealTime();

void plainFwrite(benchmark::State& state) {
    auto file = benchFolder() / "fwrite.log";
    std::FILE* output = std::fopen(file.c_str(), "we");
    std::string line = "[2024-03-05T14:07:09.042+0100] info: " + kMessage + "\n";
    for (auto _ : state) {
        std::fwrite(line.data(), 1, line.size(), output);
    }
    std::fclose(output);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(plainFwrite)->UseRealTime();

// Keeps each run's lines per second to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto items = run.counters.find("items_per_second");
            if (items != run.counters.end()) {
                linesPerSecond[run.benchmark_name()] = items->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> linesPerSecond;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double logger = reporter.linesPerSecond["loggerToFile/real_time"];
    double reference = reporter.linesPerSecond["plainFwrite/real_time"];
    if (logger > 0 && reference > 0) {
        std::cout << "Logger: " << logger << " lines/s; plain fwrite: " << reference
                  << " lines/s; ratio logger/fwrite = " << logger / reference << "\n";
    }
    std::filesystem::remove_all(benchFolder());
    benchmark::Shutdown();
    return 0;
}
