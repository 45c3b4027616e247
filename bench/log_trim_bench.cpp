// Bytes written per byte logged while the log file is at its size limit: the log file stream with its
// trims, against the same lines appended with a trim of the least after each batch (a copy of the
// whole file per mebibyte logged), measured in the same run. Written bytes are the process's own,
// read from /proc/self/io (wchar) before and after.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "bench_folder.h"
#include "common/file_stream.h"

namespace {

using brisel::common::kLogFileSizeLimit;

constexpr std::uint64_t kMebibyte = 1'048'576;
// Each batch of lines reaches the file as one append, as a busy stream's batches do.
constexpr std::uint64_t kBatchBytes = 256 * 1024;
// Enough for the paced trims to settle into their rhythm.
constexpr std::uint64_t kPacedLoggedBytes = 256 * kMebibyte;
constexpr std::uint64_t kLeastLoggedBytes = 16 * kMebibyte;

const std::string kLine = "[2026-12-10T12:20:02.123+0000] info: WIFI: connection 123456 did end\n";

struct Batch {
    std::string lines;
    std::uint64_t count = 0;
};

const Batch& batch() {
    static const Batch lines = [] {
        Batch made;
        while (made.lines.size() + kLine.size() <= kBatchBytes) {
            made.lines += kLine;
            ++made.count;
        }
        return made;
    }();
    return lines;
}

// The bytes this process has written so far (wchar of /proc/self/io).
std::uint64_t bytesWritten() {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        std::uint64_t value = 0;
        io >> value;
        if (key == "wchar:") {
            return value;
        }
    }
    std::abort();
}

// A log file of exactly the size limit, made of log lines.
std::filesystem::path fileAtTheLimit(const std::string& name) {
    const auto file = benchFolder() / name;
    std::ofstream output(file, std::ios::binary | std::ios::trunc);
    std::uint64_t size = 0;
    while (size + batch().lines.size() <= kLogFileSizeLimit) {
        output << batch().lines;
        size += batch().lines.size();
    }
    output << std::string(kLogFileSizeLimit - size, 'x');
    return file;
}

void pacedTrims(benchmark::State& state) {
    const auto file = fileAtTheLimit("paced.log");
    std::uint64_t logged = 0;
    std::uint64_t written = 0;
    for (auto _ : state) {
        const std::uint64_t before = bytesWritten();
        brisel::common::FileStream stream(file);
        while (logged < kPacedLoggedBytes) {
            stream.writeLines(batch().lines, batch().count);
            stream.flush();  // one batch per append, and none left out for waiting too long
            logged += batch().lines.size();
        }
        written = bytesWritten() - before;
    }
    state.counters["written_per_logged"] = static_cast<double>(written) / static_cast<double>(logged);
}
BENCHMARK(pacedTrims)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void leastTrims(benchmark::State& state) {
    const auto file = fileAtTheLimit("least.log");
    std::uint64_t logged = 0;
    std::uint64_t written = 0;
    for (auto _ : state) {
        const std::uint64_t before = bytesWritten();
        while (logged < kLeastLoggedBytes) {
            if (!brisel::common::appendToFile(file, batch().lines)) {
                std::abort();
            }
            brisel::common::trimLogFileIfTooLarge(file, brisel::common::LogTrimDepth::least);
            logged += batch().lines.size();
        }
        written = bytesWritten() - before;
    }
    state.counters["written_per_logged"] = static_cast<double>(written) / static_cast<double>(logged);
}
BENCHMARK(leastTrims)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps each run's figure to print them together at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto figure = run.counters.find("written_per_logged");
            if (figure != run.counters.end()) {
                writtenPerLogged[run.run_name.function_name] = figure->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> writtenPerLogged;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double paced = reporter.writtenPerLogged["pacedTrims"];
    const double least = reporter.writtenPerLogged["leastTrims"];
    if (paced > 0 && least > 0) {
        std::cout << "Bytes written per byte logged at the size limit: log stream " << paced
                  << " (goal <= 10); a trim of the least per batch " << least << "; ratio " << paced / least
                  << "\n";
    }
    std::filesystem::remove_all(benchFolder());
    benchmark::Shutdown();
    return 0;
}
