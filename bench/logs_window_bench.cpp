// The Logs window on a busy log: a 100 MiB log that the service's own log stream keeps growing by
// 1 MiB/s (and so trims about once a second), with the window open, then hidden, then shown again.
// Prints, per phase, the longest and the 99th-percentile stall of the main thread's event loop (a probe
// thread posts to it every 5 ms; the delay until each post runs is the stall it met, as a menu request
// over D-Bus would), against the goal and against the same loop without a window, measured first in
// the same run; the main thread's busy share and its share spent waiting for a CPU (the machine's load,
// not the window); the resident memory; and the time from the menu choice to the window showing the
// file's end, for the first choice and again after a hidden spell. Goals: stalls below 100 ms at every
// moment, the end shown within 1 s, resident memory below 250 MiB.
//
// Run (no display needed; Qt's offscreen platform paints into memory):
//     build/plain/bench/logs_window_bench [seconds per phase, default 5]
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/file_stream.h"
#include "desktop/components/log_view_controller.h"
#include "support/temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using brisel::desktop::components::LogViewController;

constexpr std::uintmax_t kMiB = 1024 * 1024;
constexpr std::uintmax_t kInitialLogBytes = 100 * kMiB;
constexpr std::uintmax_t kGrowthPerSecond = 1 * kMiB;
constexpr auto kWriterTick = std::chrono::milliseconds(10);
constexpr auto kProbeInterval = std::chrono::milliseconds(5);
constexpr auto kStallGoal = std::chrono::milliseconds(100);
constexpr auto kEndShownGoal = std::chrono::milliseconds(1000);
constexpr auto kChoiceBound = std::chrono::milliseconds(30000);
// The file's last bytes at a menu choice, looked for in the last kSearchedEndBytes the window shows.
constexpr qsizetype kEndMarkBytes = 200;
constexpr qsizetype kSearchedEndBytes = qsizetype{8} << 20;
constexpr double kResidentGoalMiB = 250;

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Lines as the service writes them, of varied length; no two alike (each has its own time stamp).
class LogLines {
  public:
    std::string next() {
        const auto kind = random() % 4;
        const std::uint64_t stamp = ++count;
        std::array<char, 40> time{};
        std::snprintf(time.data(), time.size(), "[2026-03-05T%02u:%02u:%02u.%03u+0100] ",
                      static_cast<unsigned>(stamp / 3'600'000 % 24),
                      static_cast<unsigned>(stamp / 60'000 % 60), static_cast<unsigned>(stamp / 1000 % 60),
                      static_cast<unsigned>(stamp % 1000));
        std::string line = time.data();
        if (kind == 0) {
            line += "info: Received message {\"buildNumber\": 10240000008025}";
        } else if (kind == 1) {
            line +=
                "info: Sending {\"command\":\"desktopClientResponse\",\"status\":\"MESSAGE\",\"data\":"
                "{\"command\":\"classify\",\"status\":\"DONE\",\"data\":{\"message\":{\"label\":\"idle\","
                "\"score\":0." +
                std::to_string(random() % 100) + "}}}}";
        } else if (kind == 2) {
            line += "notice: WIFI: Board " + std::to_string(random() % 8) + " sent " +
                    std::to_string(random() % 100000) + " bytes";
        } else {
            line += "debug: USB: packet " + std::to_string(random()) + " saved";
        }
        return line;
    }

  private:
    std::mt19937 random{7};
    std::uint64_t count = 0;
};

// Appends lines through the service's log stream at a steady rate until stopped.
class LogWriter {
  public:
    // `lines` goes on from where the initial log's lines ended.
    LogWriter(const fs::path& file, LogLines firstLines) : stream(file), lines(std::move(firstLines)) {
        thread = std::thread([this] { run(); });
    }
    ~LogWriter() {
        stopping = true;
        thread.join();
    }
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

  private:
    void run() {
        const std::uintmax_t perTick =
            kGrowthPerSecond * static_cast<std::uintmax_t>(kWriterTick.count()) / 1000;
        auto due = Clock::now();
        while (!stopping) {
            for (std::uintmax_t written = 0; written < perTick;) {
                const std::string line = lines.next();
                stream.write(line);
                written += line.size() + 1;
            }
            due += kWriterTick;
            std::this_thread::sleep_until(due);  // the pace of the writer, not a wait for anything
        }
    }

    brisel::common::FileStream stream;
    LogLines lines;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// "VmRSS" (resident now) or "VmHWM" (resident at most so far) of this process, in MiB.
double residentMiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string name;
    while (status >> name) {
        if (name == field + ":") {
            double kib = 0;
            status >> kib;
            return kib / 1024;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

// What the probe saw since it was last asked.
struct ProbeSamples {
    std::vector<Clock::duration> delays;  // sorted
    std::vector<double> residentMiB;
};

// Posts to the main thread every kProbeInterval and keeps the delays until the posts ran; samples the
// resident memory every kResidentEvery posts.
class StallProbe {
  public:
    static constexpr int kResidentEvery = 10;

    explicit StallProbe(QObject& mainThreadObject) : target(mainThreadObject) {
        thread = std::thread([this] { run(); });
    }
    ~StallProbe() {
        stopping = true;
        thread.join();
    }
    StallProbe(const StallProbe&) = delete;
    StallProbe& operator=(const StallProbe&) = delete;

    ProbeSamples take() {
        std::lock_guard lock(mutex);
        ProbeSamples taken = std::exchange(samples, {});
        std::sort(taken.delays.begin(), taken.delays.end());
        return taken;
    }

  private:
    void run() {
        auto due = Clock::now();
        for (int post = 0; !stopping; ++post) {
            const auto posted = Clock::now();
            QMetaObject::invokeMethod(
                &target,
                [this, posted] {
                    std::lock_guard lock(mutex);
                    samples.delays.push_back(Clock::now() - posted);
                },
                Qt::QueuedConnection);
            if (post % kResidentEvery == 0) {
                const double resident = residentMiB("VmRSS");
                std::lock_guard lock(mutex);
                samples.residentMiB.push_back(resident);
            }
            due += kProbeInterval;
            std::this_thread::sleep_until(due);  // the probe's pace
        }
    }

    QObject& target;
    std::mutex mutex;
    ProbeSamples samples;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

Clock::duration mainThreadCpu() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The calling thread's time spent runnable but without a CPU (the scheduler's statistics): what the
// machine's load, not the window, made it wait.
Clock::duration waitedForCpu() {
    std::ifstream schedstat("/proc/thread-self/schedstat");
    long long onCpu = 0;
    long long waiting = 0;
    schedstat >> onCpu >> waiting;
    return std::chrono::nanoseconds(waiting);
}

struct PhaseFigures {
    Clock::duration wall{};
    bool conditionMet = true;
    Clock::duration longest{};
    Clock::duration p99{};
    double mainThreadBusy = 0;  // share of the phase
    double waitingForCpu = 0;   // share of the phase
    double meanResidentMiB = 0;
    double mostResidentMiB = 0;
};

// Runs the main thread's event loop for `duration`, or until `condition` (looked at every 2 ms) holds,
// and gathers what the probe saw meanwhile.
PhaseFigures measurePhase(StallProbe& probe, std::chrono::milliseconds duration,
                          const std::function<bool()>& condition = {}) {
    probe.take();
    const auto cpuBefore = mainThreadCpu();
    const auto waitedBefore = waitedForCpu();
    const auto start = Clock::now();
    PhaseFigures figures;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition && condition()) {
            loop.quit();
        } else if (Clock::now() - start >= duration) {
            figures.conditionMet = !condition;
            loop.quit();
        }
    });
    poll.start(std::chrono::milliseconds(2));
    loop.exec();
    figures.wall = Clock::now() - start;
    const ProbeSamples samples = probe.take();
    if (!samples.delays.empty()) {
        figures.longest = samples.delays.back();
        figures.p99 = samples.delays[samples.delays.size() * 99 / 100];
    }
    figures.mainThreadBusy = milliseconds(mainThreadCpu() - cpuBefore) / milliseconds(figures.wall);
    figures.waitingForCpu = milliseconds(waitedForCpu() - waitedBefore) / milliseconds(figures.wall);
    for (const double resident : samples.residentMiB) {
        figures.meanResidentMiB += resident / static_cast<double>(samples.residentMiB.size());
        figures.mostResidentMiB = std::max(figures.mostResidentMiB, resident);
    }
    return figures;
}

void printPhase(const char* name, const PhaseFigures& figures, const PhaseFigures& reference) {
    std::printf(
        "%-22s longest stall %7.1f ms = %5.2fx goal, %6.1fx reference; p99 %6.1f ms; main thread busy "
        "%4.1f%%, "
        "waiting for a CPU %4.1f%%; resident %4.0f MiB mean, %4.0f most\n",
        name, milliseconds(figures.longest), milliseconds(figures.longest) / milliseconds(kStallGoal),
        milliseconds(figures.longest) / std::max(milliseconds(reference.longest), 0.001),
        milliseconds(figures.p99), 100 * figures.mainThreadBusy, 100 * figures.waitingForCpu,
        figures.meanResidentMiB, figures.mostResidentMiB);
}

void printChoice(const char* name, const PhaseFigures& figures, const PhaseFigures& reference) {
    if (!figures.conditionMet) {
        std::printf("%-22s the file's end was not shown within %.0f ms\n", name, milliseconds(figures.wall));
    } else {
        std::printf("%-22s file's end shown after %7.1f ms = %5.2fx goal of %lld ms\n", name,
                    milliseconds(figures.wall), milliseconds(figures.wall) / milliseconds(kEndShownGoal),
                    static_cast<long long>(kEndShownGoal.count()));
    }
    printPhase("  meanwhile", figures, reference);
}

LogLines writeInitialLog(const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    LogLines lines;
    std::string block;
    for (std::uintmax_t written = 0; written < kInitialLogBytes;) {
        block.clear();
        while (block.size() < 64 * 1024) {
            block += lines.next();
            block += '\n';
        }
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        written += block.size();
    }
    return lines;
}

QByteArray lastBytesOf(const fs::path& file, qsizetype count) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(-count, std::ios::end);
    QByteArray bytes(count, '\0');
    in.read(bytes.data(), count);
    return bytes;
}

std::uintmax_t sizeOf(const fs::path& file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    return error ? 0 : size;
}

void bringToFront(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const int phaseSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const auto phase = std::chrono::milliseconds(phaseSeconds * 1000);
    QApplication application(argc, argv);
    QObject mainThreadObject;

    const brisel::test_support::TemporaryFolder folder;
    const fs::path log = folder.path() / "desktop_client.log";
    LogLines lines = writeInitialLog(log);
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf(
        "Logs window on a %.1f MiB log growing by %.1f MiB/s, %d s per phase; load average %.2f %.2f "
        "%.2f on %u cores\n",
        static_cast<double>(sizeOf(log)) / kMiB, static_cast<double>(kGrowthPerSecond) / kMiB, phaseSeconds,
        load[0], load[1], load[2], std::thread::hardware_concurrency());

    StallProbe probe(mainThreadObject);
    std::optional<LogWriter> writer(std::in_place, log, std::move(lines));
    const PhaseFigures reference = measurePhase(probe, phase);
    printPhase("no window (reference)", reference, reference);

    // The menu's Logs item: the window is made on the first choice and shown; it then follows the log.
    std::optional<LogViewController> window;
    const auto choose = [&] {
        // Shown once the view's end holds the file's last bytes as they were at the choice.
        const QByteArray endAtChoice = lastBytesOf(log, kEndMarkBytes);
        if (!window) {
            window.emplace(log);
        }
        bringToFront(*window);
        // Searched only when the text changed (a few times a second), so that the looking costs little.
        const char* searchedData = nullptr;
        qsizetype searchedSize = -1;
        return measurePhase(probe, kChoiceBound, [&] {
            const QByteArrayView shown(window->text().bytes());
            if (shown.data() == searchedData && shown.size() == searchedSize) {
                return false;
            }
            searchedData = shown.data();
            searchedSize = shown.size();
            return window->showsEnd() &&
                   shown.last(std::min(shown.size(), kSearchedEndBytes)).indexOf(endAtChoice) >= 0;
        });
    };
    printChoice("choosing Logs", choose(), reference);
    const PhaseFigures open = measurePhase(probe, phase);
    printPhase("window open", open, reference);
    window->hide();
    printPhase("window hidden", measurePhase(probe, phase), reference);
    printChoice("choosing Logs again", choose(), reference);
    printPhase("window open again", measurePhase(probe, phase), reference);
    writer.reset();
    std::printf(
        "resident memory with the window open: %.0f MiB mean = %.2fx goal of %.0f MiB (%.0f MiB without "
        "the window); at most %.0f MiB in the run\n",
        open.meanResidentMiB, open.meanResidentMiB / kResidentGoalMiB, kResidentGoalMiB,
        reference.meanResidentMiB, residentMiB("VmHWM"));
    return 0;
}
