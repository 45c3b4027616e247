// The Logs window on a busy log: a log at the service's cap (100 MiB) that the service's own log stream
// keeps growing by 1 MiB/s, and so trims about once a second, with the window open (following the end,
// then scrolled away with lines selected), Select All and Copy, the window hidden, then shown again.
// Prints, per phase, the longest and the 99th-percentile stall of the main thread's event loop (a probe
// thread posts to it every 5 ms; the delay until each post runs is the stall it met, as a menu request
// over D-Bus would), against the goal and against the same loop without a window, measured first in
// the same run; the main thread's busy share and its share spent waiting for a CPU (the machine's load,
// not the window); the resident memory, its mean and its peak (the kernel's high-water mark, reset at
// each phase); the time from the menu choice to the window showing the file's end; whether the lines in
// sight and the selection stayed on the same text while the log was trimmed; and how long the copy kept
// the main thread. Goals: stalls below 50 ms while the window follows the log, a copy below 100 ms,
// the end shown within 1 s, and a peak resident memory below 1.5 times the log's size.
//
// Run (no display needed; Qt's offscreen platform paints into memory):
//     build/plain/bench/logs_window_bench [seconds per phase, default 5]
#include <pthread.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
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
#include "desktop/components/logs/log_lines_view.h"
#include "desktop/components/logs/log_view_controller.h"
#include "support/temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using brisel::desktop::components::LogLinesView;
using brisel::desktop::components::LogViewController;

constexpr std::uintmax_t kMiB = 1024 * 1024;
// The log starts at the service's cap, so each second of growth brings a trim.
constexpr std::uintmax_t kInitialLogBytes = brisel::common::kLogFileSizeLimit;
constexpr std::uintmax_t kGrowthPerSecond = 1 * kMiB;
constexpr auto kWriterTick = std::chrono::milliseconds(10);
constexpr auto kProbeInterval = std::chrono::milliseconds(5);
constexpr auto kStallGoal = std::chrono::milliseconds(50);
constexpr auto kCopyGoal = std::chrono::milliseconds(100);
constexpr auto kEndShownGoal = std::chrono::milliseconds(1000);
constexpr auto kChoiceBound = std::chrono::milliseconds(30000);
// The file's last bytes at a menu choice, looked for in the last kSearchedEndBytes the window shows.
constexpr qsizetype kEndMarkBytes = 200;
constexpr qsizetype kSearchedEndBytes = qsizetype{8} << 20;
constexpr double kResidentGoalShareOfLog = 1.5;

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

// Lets "VmHWM" start again from the resident memory now; false where the kernel refuses.
bool resetResidentPeak() {
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return static_cast<bool>(clearRefs);
}

// The CPU time a thread has used so far.
Clock::duration cpuTime(clockid_t threadClock) {
    timespec now{};
    clock_gettime(threadClock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// One post of the probe: how long it waited for the main thread, and how much of that the main thread
// spent on a CPU (the rest it waited for one, or slept).
struct Stall {
    Clock::duration delay;
    Clock::duration mainThreadOnCpu;
    bool operator<(const Stall& other) const { return delay < other.delay; }
};

// What the probe saw since it was last asked.
struct ProbeSamples {
    std::vector<Stall> stalls;  // sorted by delay
    std::vector<double> residentMiB;
};

// Posts to the main thread every kProbeInterval and keeps the delays until the posts ran; samples the
// resident memory every kResidentEvery posts.
class StallProbe {
  public:
    static constexpr int kResidentEvery = 10;

    // Made on the main thread.
    explicit StallProbe(QObject& mainThreadObject) : target(mainThreadObject) {
        pthread_getcpuclockid(pthread_self(), &mainThreadClock);
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
        std::sort(taken.stalls.begin(), taken.stalls.end());
        return taken;
    }

  private:
    void run() {
        auto due = Clock::now();
        for (int post = 0; !stopping; ++post) {
            const auto posted = Clock::now();
            const auto cpuAtPost = cpuTime(mainThreadClock);
            QMetaObject::invokeMethod(
                &target,
                [this, posted, cpuAtPost] {
                    const Stall stall{Clock::now() - posted, cpuTime(mainThreadClock) - cpuAtPost};
                    std::lock_guard lock(mutex);
                    samples.stalls.push_back(stall);
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
    clockid_t mainThreadClock{};
    std::mutex mutex;
    ProbeSamples samples;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

Clock::duration mainThreadCpu() {
    return cpuTime(CLOCK_THREAD_CPUTIME_ID);
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
    Clock::duration longestOnCpu{};  // of the longest stall, the main thread's time on a CPU
    Clock::duration mostOnCpu{};     // the most time the main thread spent on a CPU while a post waited
    Clock::duration p99{};
    double mainThreadBusy = 0;  // share of the phase
    double waitingForCpu = 0;   // share of the phase
    double meanResidentMiB = 0;
    double peakResidentMiB = 0;  // the high-water mark, or the most sampled where it cannot be reset
};

// Runs the main thread's event loop for `duration`, or until `condition` (looked at every 2 ms) holds,
// and gathers what the probe saw meanwhile.
PhaseFigures measurePhase(StallProbe& probe, std::chrono::milliseconds duration,
                          const std::function<bool()>& condition = {}) {
    probe.take();
    const bool peakReset = resetResidentPeak();
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
    ProbeSamples samples = probe.take();
    if (!samples.stalls.empty()) {
        figures.longest = samples.stalls.back().delay;
        figures.longestOnCpu = samples.stalls.back().mainThreadOnCpu;
        figures.p99 = samples.stalls[samples.stalls.size() * 99 / 100].delay;
        for (const Stall& stall : samples.stalls) {
            figures.mostOnCpu = std::max(figures.mostOnCpu, stall.mainThreadOnCpu);
        }
    }
    figures.mainThreadBusy = milliseconds(mainThreadCpu() - cpuBefore) / milliseconds(figures.wall);
    figures.waitingForCpu = milliseconds(waitedForCpu() - waitedBefore) / milliseconds(figures.wall);
    if (samples.residentMiB.empty()) {
        samples.residentMiB.push_back(residentMiB("VmRSS"));  // a phase shorter than the sampling interval
    }
    for (const double resident : samples.residentMiB) {
        figures.meanResidentMiB += resident / static_cast<double>(samples.residentMiB.size());
        figures.peakResidentMiB = std::max(figures.peakResidentMiB, resident);
    }
    if (peakReset) {
        figures.peakResidentMiB = residentMiB("VmHWM");
    }
    return figures;
}

void printPhase(const char* name, const PhaseFigures& figures, const PhaseFigures& reference) {
    std::printf(
        "%-22s longest stall %7.1f ms = %5.2fx goal, %6.1fx reference (main thread on a CPU %5.1f ms of it); "
        "p99 %6.1f ms; main thread busy %4.1f%%, waiting for a CPU %4.1f%%; resident %4.0f MiB mean, %4.0f "
        "peak\n",
        name, milliseconds(figures.longest), milliseconds(figures.longest) / milliseconds(kStallGoal),
        milliseconds(figures.longest) / std::max(milliseconds(reference.longest), 0.001),
        milliseconds(figures.longestOnCpu), milliseconds(figures.p99), 100 * figures.mainThreadBusy,
        100 * figures.waitingForCpu, figures.meanResidentMiB, figures.peakResidentMiB);
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

void sendKey(QWidget& widget, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(&widget, &event);
}

void sendClick(QWidget& viewport, int y, Qt::KeyboardModifiers modifiers) {
    const QPoint at(10, y);
    QMouseEvent event(QEvent::MouseButtonPress, at, viewport.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      modifiers);
    QCoreApplication::sendEvent(&viewport, &event);
}

// The lines from `first` to `last` as a copy gives them.
QString linesOf(const LogLinesView& view, qsizetype first, qsizetype last) {
    const QByteArrayView from = view.text().line(first);
    const QByteArrayView to = view.text().line(last);
    return QString::fromUtf8(QByteArrayView(from.data(), to.data() + to.size()));
}

const char* yesOrNo(bool value) {
    return value ? "yes" : "no";
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
    const double logMiB = static_cast<double>(brisel::common::kLogFileSizeLimit) / kMiB;
    const auto printLoad = [](const char* when) {
        double load[3] = {0, 0, 0};
        getloadavg(load, 3);
        std::printf("load average %s: %.2f %.2f %.2f on %u cores\n", when, load[0], load[1], load[2],
                    std::thread::hardware_concurrency());
    };
    std::printf("Logs window on a %.1f MiB log (the cap: %.0f MiB) growing by %.1f MiB/s, %d s per phase\n",
                static_cast<double>(sizeOf(log)) / kMiB, logMiB, static_cast<double>(kGrowthPerSecond) / kMiB,
                phaseSeconds);
    printLoad("at the start");

    StallProbe probe(mainThreadObject);
    std::optional<LogWriter> writer(std::in_place, log, std::move(lines));
    const PhaseFigures reference = measurePhase(probe, phase);
    printPhase("no window (reference)", reference, reference);

    // The menu's Logs item: the window is made on the first choice and shown; it then follows the log.
    std::optional<LogViewController> window;
    LogLinesView* view = nullptr;
    const auto choose = [&] {
        // Shown once the view's end holds the file's last bytes as they were at the choice.
        const QByteArray endAtChoice = lastBytesOf(log, kEndMarkBytes);
        if (!window) {
            window.emplace(log);
            view = window->findChild<LogLinesView*>();
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
    std::vector<PhaseFigures> following;  // the phases with the window open
    printChoice("choosing Logs", choose(), reference);
    following.push_back(measurePhase(probe, phase));
    printPhase("window open", following.back(), reference);

    // Scrolled to the middle, with four lines selected: the log is trimmed meanwhile.
    QScrollBar& scroll = *view->verticalScrollBar();
    scroll.setValue(scroll.maximum() / 2);
    const int rowHeight = view->fontMetrics().lineSpacing();
    sendClick(*view->viewport(), 2 * rowHeight + rowHeight / 2, Qt::NoModifier);
    sendClick(*view->viewport(), 5 * rowHeight + rowHeight / 2, Qt::ShiftModifier);
    const QByteArray topLine = view->text().line(scroll.value()).toByteArray();
    const QString selected = linesOf(*view, scroll.value() + 2, scroll.value() + 5);
    following.push_back(measurePhase(probe, phase));
    printPhase("window scrolled away", following.back(), reference);
    QGuiApplication::clipboard()->clear();
    sendKey(*view, Qt::Key_C, Qt::ControlModifier);
    measurePhase(probe, kChoiceBound, [] { return !QGuiApplication::clipboard()->text().isEmpty(); });
    std::printf(
        "  while %.1f MiB were written: the lines in sight stayed on the same text: %s; the selection: %s\n",
        static_cast<double>(kGrowthPerSecond) * phaseSeconds / kMiB,
        yesOrNo(view->text().line(scroll.value()) == topLine),
        yesOrNo(QGuiApplication::clipboard()->text() == selected));

    // Select All and Copy: how long the copy keeps the main thread, and when the clipboard has the text.
    QGuiApplication::clipboard()->clear();
    sendKey(*view, Qt::Key_A, Qt::ControlModifier);
    const auto copyStart = Clock::now();
    sendKey(*view, Qt::Key_C, Qt::ControlModifier);
    const auto copyTime = Clock::now() - copyStart;
    const PhaseFigures copying =
        measurePhase(probe, kChoiceBound, [] { return !QGuiApplication::clipboard()->text().isEmpty(); });
    // The lines are ASCII: a character a byte.
    const double copiedMiB = static_cast<double>(QGuiApplication::clipboard()->text().size()) / kMiB;
    std::printf(
        "%-22s main thread kept %7.1f ms = %5.2fx goal of %lld ms; on the clipboard after %.1f ms: %.1f MiB "
        "of the %.1f MiB shown\n",
        "Select All, Copy", milliseconds(copyTime), milliseconds(copyTime) / milliseconds(kCopyGoal),
        static_cast<long long>(kCopyGoal.count()), milliseconds(copyTime + copying.wall), copiedMiB,
        static_cast<double>(view->text().size()) / kMiB);
    printPhase("  meanwhile", copying, reference);
    QGuiApplication::clipboard()
        ->clear();  // frees the copy, which the hidden window is not to be charged for
    scroll.setValue(scroll.maximum());
    measurePhase(probe, std::chrono::milliseconds(500));

    window->hide();
    printPhase("window hidden", measurePhase(probe, phase), reference);
    printChoice("choosing Logs again", choose(), reference);
    following.push_back(measurePhase(probe, phase));
    printPhase("window open again", following.back(), reference);
    writer.reset();

    Clock::duration longest{};
    Clock::duration longestOnCpu{};
    Clock::duration mostOnCpu{};
    double peak = 0;
    for (const PhaseFigures& figures : following) {
        if (figures.longest > longest) {
            longest = figures.longest;
            longestOnCpu = figures.longestOnCpu;
        }
        mostOnCpu = std::max(mostOnCpu, figures.mostOnCpu);
        peak = std::max(peak, figures.peakResidentMiB);
    }
    std::printf(
        "while the window follows the log past its cap: longest stall %.1f ms = %.2fx goal of %lld ms (main "
        "thread on a CPU %.1f ms of it; at most %.1f ms on a CPU in any stall); peak resident %.0f MiB = "
        "%.2fx "
        "the log's size (goal below %.1fx; %.0f MiB peak without the window)\n",
        milliseconds(longest), milliseconds(longest) / milliseconds(kStallGoal),
        static_cast<long long>(kStallGoal.count()), milliseconds(longestOnCpu), milliseconds(mostOnCpu), peak,
        peak / logMiB, kResidentGoalShareOfLog, reference.peakResidentMiB);
    printLoad("at the end");
    return 0;
}
