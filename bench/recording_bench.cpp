// Recording throughput: cutting a board's byte stream into packets, validating each and appending the
// valid ones to the sample file, against a plain write() of the same bytes in the same chunks.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "device/samples/packet_cutter.h"
#include "device/samples/sample_file.h"
#include "device/samples/sample_packet_builder.h"

namespace {

using brisel::device::OldFile;
using brisel::device::PacketCutter;
using brisel::device::SampleFile;

constexpr std::size_t kStreamBytes = std::size_t{64} << 20;
constexpr std::size_t kChunkBytes = std::size_t{64} << 10;

// A stream of packets with an accelerometer and a gyroscope of `readings` readings each, and a
// temperature: 16 readings make packets of 260 bytes, 256 readings packets of 3140 bytes.
const std::vector<std::uint8_t>& stream(std::size_t readings) {
    static std::map<std::size_t, std::vector<std::uint8_t>> streams;
    auto& bytes = streams[readings];
    if (!bytes.empty()) {
        return bytes;
    }
    std::mt19937 random(3);
    std::uint32_t stamp = 0;
    while (bytes.size() < kStreamBytes) {
        brisel::device::SamplePacketContents contents;
        contents.timeStamp = stamp++;
        for (std::uint32_t id : {1u, 2u}) {
            std::vector<std::uint8_t> values(readings * 6);
            for (auto& value : values) {
                value = static_cast<std::uint8_t>(random() % 200);
            }
            contents.entries.push_back({id, std::move(values)});
        }
        contents.entries.push_back({5, {0x10, 0x01}});
        const auto packet = brisel::device::buildSamplePacket(contents);
        bytes.insert(bytes.end(), packet.begin(), packet.end());
    }
    return bytes;
}

std::filesystem::path benchFolder() {
    static const std::filesystem::path folder = [] {
        auto path =
            std::filesystem::temp_directory_path() / ("brisel-recording-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

// The bytes of one read from the link: both measurements start from a freshly received chunk, as the
// reader does.
std::span<const std::uint8_t> receive(const std::vector<std::uint8_t>& stream, std::size_t offset,
                                      std::size_t count, std::vector<std::uint8_t>& received) {
    received.assign(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                    stream.begin() + static_cast<std::ptrdiff_t>(offset + count));
    return received;
}

void plainWrite(benchmark::State& state) {
    const auto& bytes = stream(static_cast<std::size_t>(state.range(0)));
    const auto path = benchFolder() / "plain.bin";
    std::vector<std::uint8_t> received;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
        for (std::size_t offset = 0; offset < bytes.size(); offset += kChunkBytes) {
            const std::size_t count = std::min(kChunkBytes, bytes.size() - offset);
            const auto chunk = receive(bytes, offset, count, received);
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(count)) {
                state.SkipWithError("write failed");
            }
        }
        ::close(fd);
        std::filesystem::remove(path);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void recording(benchmark::State& state) {
    const auto& bytes = stream(static_cast<std::size_t>(state.range(0)));
    std::vector<std::span<const std::uint8_t>> accepted;
    std::vector<std::uint8_t> received;
    for (auto _ : state) {
        SampleFile file(benchFolder() / "recording");
        file.begin(OldFile::remove, 0);
        PacketCutter cutter;
        for (std::size_t offset = 0; offset < bytes.size(); offset += kChunkBytes) {
            const std::size_t count = std::min(kChunkBytes, bytes.size() - offset);
            accepted.clear();
            cutter.feed(receive(bytes, offset, count, received), accepted);
            if (!file.append(accepted)) {
                state.SkipWithError("append failed");
            }
        }
        file.remove();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void cutOnly(benchmark::State& state) {
    const auto& bytes = stream(static_cast<std::size_t>(state.range(0)));
    std::vector<std::span<const std::uint8_t>> accepted;
    std::vector<std::uint8_t> received;
    for (auto _ : state) {
        PacketCutter cutter;
        for (std::size_t offset = 0; offset < bytes.size(); offset += kChunkBytes) {
            const std::size_t count = std::min(kChunkBytes, bytes.size() - offset);
            accepted.clear();
            cutter.feed(receive(bytes, offset, count, received), accepted);
            benchmark::DoNotOptimize(accepted.data());
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(cutOnly)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(plainWrite)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(recording)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the usual table, then recording time over plain-write time.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
            bytesPerSecond_[run.benchmark_name()] =
                run.counters.count("bytes_per_second")
                    ? static_cast<double>(run.counters.at("bytes_per_second"))
                    : 0.0;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char* readings : {"16", "256"}) {
            const std::string plain = std::string("plainWrite/") + readings + "/real_time";
            const std::string recorded = std::string("recording/") + readings + "/real_time";
            if (seconds_.count(plain) == 0 || seconds_.count(recorded) == 0 || seconds_[plain] <= 0) {
                continue;
            }
            std::printf(
                "%s readings per sensor: recording %.0f MB/s, plain write %.0f MB/s, recording / plain "
                "write time %.2fx (goal: >= 150 MB/s and <= 1.5x)\n",
                readings, bytesPerSecond_[recorded] / 1e6, bytesPerSecond_[plain] / 1e6,
                seconds_[recorded] / seconds_[plain]);
        }
    }

  private:
    std::map<std::string, double> seconds_;
    std::map<std::string, double> bytesPerSecond_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove_all(benchFolder());
    return 0;
}
