// Live classification with a quiet board through the real brisel_core, over USB serial and over WiFi:
// - the service's CPU share (time on a CPU of all its threads, /proc/<pid>/task/*/schedstat) and its
//   wake-ups per second (voluntary and involuntary context switches of its threads,
//   /proc/<pid>/task/*/status) over 5 s while the board is quiet, against the idle service (a browser
//   connected, no run) measured in the same run; goal below 0.5% of a core and 50 wake-ups per second;
// - prediction latency, from the board's write of a prediction line to the browser's receipt of its
//   reply, p50 and p99, against the handshake round trip on the same connection.
// The quiet board sent one line just before the 5 s: a serial run ends after about 9 s of silence, and
// the service ends a WiFi connection silent for 5 s at its check 10 s after the last read.
//
// Run:  build/plain/bench/classification_bench [BRISEL_CORE ...]
// With no argument it measures the brisel_core of its own build; given several builds of brisel_core
// (one from before a change and one from after, say), it measures each in turn in the same run, in the
// order given (on a busy machine give them alternately: old new old new). It prints, for each, the
// figures above and the three threads with the most wake-ups in each quiet window. It runs
// itself again inside a private network and mount namespace with the umockdev preload
// (`env LD_PRELOAD=libumockdev-preload.so.0 unshare -rmn`), so ports 4751 and 6012 are its own and the
// USB board is simulated; nothing of the machine's home, ports or devices is touched. Figures are of
// a shared machine when others are busy: the load average is printed first.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/device_kind.h"
#include "device/wifi/wifi_settings.h"
#include "support/eventually.h"
#include "support/fake_cloud.h"
#include "support/service_process.h"
#include "support/temporary_folder.h"
#include "support/usb_board_simulator.h"
#include "support/wifi_test_board.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using brisel::test::BoardId;
using brisel::test::FakeCloud;
using brisel::test::ScriptedReply;
using brisel::test::UsbBoardSimulator;
using brisel::test::WifiTestBoard;
using brisel::test_support::ServiceProcess;
using brisel::test_support::WebSocketTestClient;
using nlohmann::json;

constexpr auto kQuietWindow = 5s;
constexpr int kLatencySamples = 300;
constexpr int kHandshakes = 300;
constexpr auto kReplyWait = 10s;
constexpr int kSerialRun = 1;
constexpr int kWifiRun = 2;
constexpr std::string_view kInsideVariable = "BRISEL_CLASSIFICATION_BENCH_INSIDE";

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "classification_bench: %s\n", what.c_str());
    std::exit(1);
}

struct ThreadUsage {
    std::string name;
    double cpuSeconds = 0;
    double switches = 0;
};

// The threads that `pid` has now, by thread id.
std::map<std::string, ThreadUsage> usageOf(pid_t pid) {
    std::map<std::string, ThreadUsage> threads;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        ThreadUsage& usage = threads[task.path().filename().string()];
        std::ifstream(task.path() / "comm") >> usage.name;
        std::ifstream schedstat(task.path() / "schedstat");
        double onCpuNanoseconds = 0;
        if (schedstat >> onCpuNanoseconds) {
            usage.cpuSeconds = onCpuNanoseconds / 1e9;
        }
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            for (const std::string_view key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
                if (line.starts_with(key)) {
                    usage.switches += std::strtod(line.c_str() + key.size(), nullptr);
                }
            }
        }
    }
    return threads;
}

struct QuietFigures {
    double cpuPercent = 0;
    double wakeupsPerSecond = 0;
    std::string busiest;  // the threads with the most wake-ups, and theirs per second
};

// Threads that begin or end within the window count with what they did inside it as far as it is seen.
QuietFigures measureQuiet(const ServiceProcess& service) {
    const auto before = usageOf(service.pid());
    const auto start = Clock::now();
    std::this_thread::sleep_for(kQuietWindow);
    const auto after = usageOf(service.pid());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    QuietFigures figures;
    std::vector<std::pair<double, std::string>> byWakeups;
    for (const auto& [id, usage] : after) {
        const auto earlier = before.find(id);
        const ThreadUsage none;
        const ThreadUsage& then = earlier == before.end() ? none : earlier->second;
        figures.cpuPercent += 100 * (usage.cpuSeconds - then.cpuSeconds) / seconds;
        const double wakeups = (usage.switches - then.switches) / seconds;
        figures.wakeupsPerSecond += wakeups;
        byWakeups.emplace_back(wakeups, usage.name);
    }
    std::sort(byWakeups.rbegin(), byWakeups.rend());
    for (std::size_t i = 0; i < std::min<std::size_t>(3, byWakeups.size()); ++i) {
        char part[64];
        std::snprintf(part, sizeof part, "%s%s %.1f/s", i == 0 ? "" : ", ", byWakeups[i].second.c_str(),
                      byWakeups[i].first);
        figures.busiest += part;
    }
    return figures;
}

struct Percentiles {
    double p50 = 0;
    double p99 = 0;
};

Percentiles percentilesOf(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double fraction) {
        return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1))];
    };
    return samples.empty() ? Percentiles{} : Percentiles{at(0.50), at(0.99)};
}

// The feature payload of the next reply; notices of WiFi boards coming and going are skipped.
json nextFeature(WebSocketTestClient& browser) {
    for (;;) {
        auto message = browser.receive(std::chrono::duration_cast<std::chrono::milliseconds>(kReplyWait));
        if (!message) {
            fail("the service sent no reply in time");
        }
        const json reply = json::parse(message->payload, nullptr, false);
        if (reply.is_object() && reply["data"].is_object() &&
            reply["data"].value("command", "") != "check_device_connection") {
            return reply["data"];
        }
    }
}

// Waits for the prediction of class `label`; an error reply ends the benchmark.
void awaitPrediction(WebSocketTestClient& browser, const std::string& label) {
    for (;;) {
        const json feature = nextFeature(browser);
        if (feature.value("status", "") != "CONNECTED") {
            fail("the run ended: " + feature.dump());
        }
        const json& message = feature["data"]["message"];
        if (message.is_object() && message.value("class", "") == label) {
            return;
        }
    }
}

// Microseconds from each line's write by `say` to the browser's receipt of its prediction, the lines
// `gap` apart at random so that they meet the service's loop at every phase.
std::vector<double> predictionLatencies(WebSocketTestClient& browser,
                                        const std::function<void(const std::string& label)>& say) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> gap(3000, 12000);
    std::vector<double> samples;
    for (int i = 0; i < kLatencySamples; ++i) {
        const std::string label = std::to_string(1000 + i);
        const auto start = Clock::now();
        say(label);
        awaitPrediction(browser, label);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::microseconds(gap(random)));
    }
    return samples;
}

std::vector<double> handshakeRoundTrips(WebSocketTestClient& browser) {
    std::vector<double> samples;
    for (int i = 0; i < kHandshakes; ++i) {
        const auto start = Clock::now();
        browser.sendText(R"({"buildNumber": 10240000008025})");
        if (!browser.receive(std::chrono::duration_cast<std::chrono::milliseconds>(kReplyWait))) {
            fail("no reply to the handshake");
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return samples;
}

struct Fixture {
    FakeCloud& cloud;
    UsbBoardSimulator& usb;
    BoardId board;
    std::filesystem::path folder;
};

std::string startRequest(const FakeCloud& cloud, std::string_view key, int runId) {
    return "{\"" + std::string(key) +
           R"(": true, "command": "start", "scheme": "http", "host": "localhost", )" + R"("port": ")" +
           std::to_string(cloud.port()) + R"(", "auth_token": "t", "run_id": )" + std::to_string(runId) +
           R"(, "model_id": 3, "latency_exists": true})";
}

void printQuiet(const char* what, const QuietFigures& figures, const QuietFigures& idle) {
    std::printf(
        "  %-28s CPU %.3f%% of a core (goal < 0.5%%), %.1f wake-ups/s (goal < 50); above idle %+.3f%%, "
        "%+.1f/s\n    busiest threads: %s\n",
        what, figures.cpuPercent, figures.wakeupsPerSecond, figures.cpuPercent - idle.cpuPercent,
        figures.wakeupsPerSecond - idle.wakeupsPerSecond, figures.busiest.c_str());
}

void printLatency(const char* what, const Percentiles& latency, const Percentiles& reference) {
    std::printf("  %-28s p50 %.0f us, p99 %.0f us; ratio to the handshake p50 %.2f, p99 %.2f\n", what,
                latency.p50, latency.p99, latency.p50 / reference.p50, latency.p99 / reference.p99);
}

void measure(const std::filesystem::path& executable, Fixture& fixture) {
    brisel::test_support::ServiceOptions options;
    options.executable = executable;
    options.folder = fixture.folder / std::to_string(Clock::now().time_since_epoch().count());
    options.environment = {{"UMOCKDEV_DIR", fixture.usb.umockdevDir()}};
    options.timeScale = 1.0;
    auto started = ServiceProcess::start(options);
    if (!started) {
        fail("the service did not start: " + started.error());
    }
    ServiceProcess& service = **started;
    auto connected = service.connect();
    if (!connected) {
        fail("no browser connection: " + connected.error());
    }
    WebSocketTestClient& browser = *connected;

    const Percentiles handshake = percentilesOf(handshakeRoundTrips(browser));
    const QuietFigures idle = measureQuiet(service);

    // Serial: the run's loop is reading once the first line has come back as a prediction.
    const std::size_t opensBefore = fixture.usb.board(fixture.board)->opens;
    browser.sendText(startRequest(fixture.cloud, "liveClassificationStartRequest", kSerialRun));
    if (!fixture.usb.waitUntil([&](const auto& boards) { return boards[fixture.board].opens > opensBefore; },
                               std::chrono::duration_cast<std::chrono::milliseconds>(kReplyWait))) {
        fail("the service did not open the board's port");
    }
    const auto sayOnSerial = [&](const std::string& label) {
        fixture.usb.send(fixture.board, "PRED: " + label + ", 0.5\r\n");
    };
    sayOnSerial("1");
    awaitPrediction(browser, "1");
    const QuietFigures serialQuiet = measureQuiet(service);
    const Percentiles serialLatency = percentilesOf(predictionLatencies(browser, sayOnSerial));
    browser.sendText(R"({"liveClassificationStopRequest": true})");
    while (nextFeature(browser).value("command", "") != "classify") {
    }

    // WiFi: the first text tells the connection its mode; the next one waits for the run.
    auto wifiBoard = WifiTestBoard::connect(brisel::device::kWifiServerPort);
    if (!wifiBoard) {
        fail("the service's board server refused the WiFi board");
    }
    wifiBoard->send("PRED:0,0.5\n");
    if (!brisel::test_support::eventually(
            [&] { return service.log().find("WIFI: device mode: CLASSIFICATION") != std::string::npos; },
            std::chrono::duration_cast<std::chrono::milliseconds>(kReplyWait))) {
        fail("the service did not see the WiFi board's mode");
    }
    const auto sayOnWifi = [&](const std::string& label) {
        wifiBoard->send("PRED:" + label + ",0.5\n");
    };
    sayOnWifi("1");
    browser.sendText(startRequest(fixture.cloud, "liveClassificationWifiStartRequest", kWifiRun));
    awaitPrediction(browser, "1");
    const QuietFigures wifiQuiet = measureQuiet(service);
    const Percentiles wifiLatency = percentilesOf(predictionLatencies(browser, sayOnWifi));
    browser.sendText(R"({"liveClassificationStopRequest": true})");
    while (nextFeature(browser).value("command", "") != "classify") {
    }
    wifiBoard->close();
    service.stop();

    std::printf("%s\n", executable.c_str());
    std::printf("  %-28s CPU %.3f%% of a core, %.1f wake-ups/s\n", "idle (reference)", idle.cpuPercent,
                idle.wakeupsPerSecond);
    printQuiet("serial, quiet board:", serialQuiet, idle);
    printQuiet("WiFi, quiet board:", wifiQuiet, idle);
    std::printf("  %-28s p50 %.0f us, p99 %.0f us (%d round trips)\n",
                "handshake (reference):", handshake.p50, handshake.p99, kHandshakes);
    printLatency("serial prediction latency:", serialLatency, handshake);
    printLatency("WiFi prediction latency:", wifiLatency, handshake);
    std::fflush(stdout);
}

void run(const std::vector<std::filesystem::path>& services) {
    if (auto loopback = brisel::test_support::bringLoopbackUp(); !loopback) {
        fail(loopback.error());
    }
    brisel::test_support::TemporaryFolder folder;
    setenv("HOME", folder.path().c_str(), 1);
    auto usb = UsbBoardSimulator::create();
    if (!usb) {
        fail(usb.error());
    }
    brisel::test::FirmwarePersonality quiet;
    quiet.kind = brisel::test::FirmwareKind::classification;
    quiet.fault = brisel::test::BoardFault::silence;  // it says only what the benchmark makes it say
    const BoardId board =
        (*usb)->plug(brisel::common::DeviceKind::NANO_33_BLE, brisel::test::UsbBoardMode::application, quiet);
    FakeCloud cloud;
    cloud.reply("GET", "/api/run/" + std::to_string(kSerialRun) + "/device_kind",
                ScriptedReply::json(200, R"({"device_kind": "NANO_33_BLE"})"));
    cloud.reply("GET", "/api/run/" + std::to_string(kWifiRun) + "/device_kind",
                ScriptedReply::json(200, R"({"device_kind": "NANO_33_IOT"})"));
    Fixture fixture{cloud, **usb, board, folder.path()};
    for (const auto& service : services) {
        measure(service, fixture);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> services;
    for (int i = 1; i < argc; ++i) {
        services.push_back(std::filesystem::absolute(argv[i]));
    }
    if (std::getenv(std::string(kInsideVariable).c_str()) == nullptr) {
        setenv(std::string(kInsideVariable).c_str(), "1", 1);
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::vector<std::string> command = {"env", "LD_PRELOAD=libumockdev-preload.so.0", "unshare", "-rmn",
                                            self};
        for (const auto& service : services) {
            command.push_back(service.string());
        }
        std::vector<char*> arguments;
        for (auto& argument : command) {
            arguments.push_back(argument.data());
        }
        arguments.push_back(nullptr);
        execvp(arguments[0], arguments.data());
        fail("cannot run itself in a namespace of its own (env, unshare)");
    }
    if (services.empty()) {
        services.emplace_back(BRISEL_SERVICE);
    }
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    std::printf("live classification with a quiet board; load average %.2f on %u cores\n", load,
                std::thread::hardware_concurrency());
    run(services);
    return 0;
}
