// The websocket server of the service against a minimal libwebsockets server built here, both running
// side by side in one process and measured alternately, so that the load of a shared machine and the
// placement of threads on cores hit both alike:
// - handshake round trip (p50, p99) against an echo of the message, one round trip of each server in
//   turn: back to back, and browser-like, with round trips at least 2 ms apart (a browser sends a
//   message now and then: that is where waking a thread that sleeps shows);
// - replies per second from 8 threads to one client against the reference's own thread sending as many
//   frames, one per writable callback, in alternating bursts;
// - the CPU time of an idle service with one open connection over 10 s.
// The service's standard output goes into a pipe that the benchmark drains, as the tray application
// does. Prints the figures and their ratios with the machine's load; `--quick` runs fewer round trips
// and skips the idle measurement.
#include <fcntl.h>
#include <libwebsockets.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/logger.h"
#include "frame/controller_registry.h"
#include "frame/request_dispatcher.h"
#include "frame/websocket_server.h"
#include "support/websocket_test_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using brisel::test_support::WebSocketTestClient;

constexpr std::string_view kHandshake = R"({"buildNumber": 10240000008025})";
constexpr std::string_view kReply =
    R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"classify","status":"DONE","data":{"message":{"label":"idle","score":0.97}}}})";
constexpr std::string_view kBurstCommand = "burst ";
constexpr int kSenderThreads = 8;
constexpr int kRepliesPerThread = 2000;
constexpr auto kReplyWait = std::chrono::seconds(10);

// One lws context on its own thread. A text "burst N" makes it send N copies of kReply, one per
// writable callback; any other message is sent back. One pending reply at a time.
class ReferenceServer {
  public:
    ReferenceServer() {
        info.port = 0;
        info.protocols = protocols.data();
        info.gid = -1;
        info.uid = -1;
        info.user = this;
        context = lws_create_context(&info);
        if (context != nullptr) {
            port = static_cast<std::uint16_t>(
                lws_get_vhost_listen_port(lws_get_vhost_by_name(context, "default")));
            thread = std::thread([this] {
                while (!stopping.load()) {
                    lws_service(context, 0);
                }
            });
        }
    }
    ~ReferenceServer() {
        stopping.store(true);
        if (context != nullptr) {
            lws_cancel_service(context);
            thread.join();
            lws_context_destroy(context);
        }
    }
    ReferenceServer(const ReferenceServer&) = delete;
    ReferenceServer& operator=(const ReferenceServer&) = delete;

    std::uint16_t port = 0;

  private:
    static int callback(lws* wsi, lws_callback_reasons reason, void*, void* in, std::size_t len) {
        auto* self = static_cast<ReferenceServer*>(lws_context_user(lws_get_context(wsi)));
        if (reason == LWS_CALLBACK_RECEIVE) {
            self->pending.append(static_cast<const char*>(in), len);
            if (lws_is_final_fragment(wsi) != 0) {
                self->received(wsi);
            }
        } else if (reason == LWS_CALLBACK_SERVER_WRITEABLE && self->reply.size() > LWS_PRE) {
            const std::size_t length = self->reply.size() - LWS_PRE;
            lws_write(wsi, reinterpret_cast<unsigned char*>(self->reply.data()) + LWS_PRE, length,
                      LWS_WRITE_TEXT);
            if (--self->repeats > 0) {
                lws_callback_on_writable(wsi);
            } else {
                self->reply.clear();
            }
        }
        return 0;
    }

    void received(lws* wsi) {
        std::string_view message = pending;
        repeats = 1;
        if (message.rfind(kBurstCommand, 0) == 0) {
            const std::string_view count = message.substr(kBurstCommand.size());
            std::from_chars(count.data(), count.data() + count.size(), repeats);
            message = kReply;
        }
        reply.assign(LWS_PRE, '\0');
        reply += message;
        pending.clear();
        lws_callback_on_writable(wsi);
    }

    std::vector<lws_protocols> protocols = {{"reference", callback, 0, 65536, 0, nullptr, 0},
                                            {nullptr, nullptr, 0, 0, 0, nullptr, 0}};
    lws_context_creation_info info{};
    lws_context* context = nullptr;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::string pending;  // websocket thread only
    std::string reply;    // websocket thread only
    int repeats = 0;      // websocket thread only
};

// The service's websocket server with the frame's route table on a free port.
struct ServiceServer {
    ServiceServer()
        : server(
              brisel::frame::routingConnectHandler(std::make_shared<const brisel::frame::ControllerRegistry>(
                  brisel::frame::ControllerRegistry::withFrameControllers()))) {
        port = server.start(0).value_or(0);
    }
    brisel::frame::WebSocketServer server;
    std::uint16_t port = 0;
};

struct Percentiles {
    double p50Microseconds = 0;
    double p99Microseconds = 0;
};

Percentiles percentilesOf(std::vector<double> samples) {
    if (samples.empty()) {
        return {};
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double fraction) {
        return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1))];
    };
    return {at(0.50), at(0.99)};
}

WebSocketTestClient connectOrExit(std::uint16_t port) {
    auto client = WebSocketTestClient::connect("127.0.0.1", port);
    if (!client) {
        std::fprintf(stderr, "no connection: %s\n", client.error().c_str());
        std::exit(1);
    }
    return std::move(*client);
}

// The round trip of one handshake on `client`, in microseconds.
double roundTrip(WebSocketTestClient& client) {
    const auto start = Clock::now();
    client.sendText(kHandshake);
    auto reply = client.receive(kReplyWait);
    const auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (!reply) {
        std::fprintf(stderr, "no reply to the handshake\n");
        std::exit(1);
    }
    return elapsed;
}

struct RoundTrips {
    std::vector<double> service;
    std::vector<double> reference;
};

// `count` round trips on each client, one of the service and one of the reference in turn, each pair
// in the other order than the one before. With a `pause`, every round trip starts at least that long
// after the one before it ended.
RoundTrips alternatingRoundTrips(WebSocketTestClient& serviceClient, WebSocketTestClient& referenceClient,
                                 int count, std::chrono::microseconds pause) {
    RoundTrips samples;
    samples.service.reserve(static_cast<std::size_t>(count));
    samples.reference.reserve(static_cast<std::size_t>(count));
    const auto pauseIfAsked = [pause] {
        if (pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
    };
    for (int i = 0; i < count; ++i) {
        const bool serviceFirst = i % 2 == 0;
        pauseIfAsked();
        (serviceFirst ? samples.service : samples.reference)
            .push_back(roundTrip(serviceFirst ? serviceClient : referenceClient));
        pauseIfAsked();
        (serviceFirst ? samples.reference : samples.service)
            .push_back(roundTrip(serviceFirst ? referenceClient : serviceClient));
    }
    return samples;
}

void printRoundTrips(std::FILE* out, const char* kind, const RoundTrips& samples, double p50Goal) {
    const Percentiles service = percentilesOf(samples.service);
    const Percentiles reference = percentilesOf(samples.reference);
    std::fprintf(out,
                 "%s handshake round trip (%zu each, alternating): service p50 %.1f us, p99 %.1f us; "
                 "reference p50 %.1f us, p99 %.1f us; ratio p50 %.2f (goal <= %.1f), p99 %.2f\n",
                 kind, samples.service.size(), service.p50Microseconds, service.p99Microseconds,
                 reference.p50Microseconds, reference.p99Microseconds,
                 service.p50Microseconds / reference.p50Microseconds, p50Goal,
                 service.p99Microseconds / reference.p99Microseconds);
}

// Seconds until `expected` messages have arrived on `client`, measured from `start`.
double receiveAll(WebSocketTestClient& client, int expected, Clock::time_point start) {
    int received = 0;
    while (received < expected && client.receive(kReplyWait)) {
        ++received;
    }
    if (received < expected) {
        std::fprintf(stderr, "only %d of %d replies arrived\n", received, expected);
        std::exit(1);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Replies per second of kSenderThreads threads writing kRepliesPerThread replies each to `ws`.
double serviceBurst(brisel::frame::WebSocket& ws, WebSocketTestClient& client) {
    const auto start = Clock::now();
    std::vector<std::thread> senders;
    for (int t = 0; t < kSenderThreads; ++t) {
        senders.emplace_back([&ws] {
            for (int i = 0; i < kRepliesPerThread; ++i) {
                ws.write(kReply);
            }
        });
    }
    const double seconds = receiveAll(client, kSenderThreads * kRepliesPerThread, start);
    for (auto& sender : senders) {
        sender.join();
    }
    return kSenderThreads * kRepliesPerThread / seconds;
}

// Replies per second of the reference server sending as many replies from its own thread.
double referenceBurst(WebSocketTestClient& client) {
    const int total = kSenderThreads * kRepliesPerThread;
    const auto start = Clock::now();
    client.sendText(std::string(kBurstCommand) + std::to_string(total));
    return total / receiveAll(client, total, start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& value) {
        return static_cast<double>(value.tv_sec) + static_cast<double>(value.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::shared_ptr<brisel::frame::WebSocket> listedConnection(const ServiceServer& service) {
    const auto deadline = Clock::now() + kReplyWait;
    while (Clock::now() < deadline) {
        if (auto ws = service.server.getWS()) {
            return ws;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::fprintf(stderr, "the service did not list the connection\n");
    std::exit(1);
}

void run(bool quick, std::FILE* out) {
    const int backToBack = quick ? 1000 : 5000;
    const int browserLike = quick ? 300 : 1500;
    const int bursts = quick ? 4 : 10;
    constexpr std::chrono::microseconds kBrowserPause{2000};
    RoundTrips spaced;
    RoundTrips packed;
    std::vector<double> serviceRates;
    std::vector<double> referenceRates;
    {
        ServiceServer service;
        ReferenceServer reference;
        auto serviceClient = connectOrExit(service.port);
        auto referenceClient = connectOrExit(reference.port);
        auto ws = listedConnection(service);
        // Warm-up: first allocations, first log file append.
        alternatingRoundTrips(serviceClient, referenceClient, 50, std::chrono::microseconds(0));
        spaced = alternatingRoundTrips(serviceClient, referenceClient, browserLike, kBrowserPause);
        packed =
            alternatingRoundTrips(serviceClient, referenceClient, backToBack, std::chrono::microseconds(0));
        for (int round = 0; round < bursts; ++round) {
            serviceRates.push_back(serviceBurst(*ws, serviceClient));
            referenceRates.push_back(referenceBurst(referenceClient));
        }
    }
    printRoundTrips(out, "browser-like (>= 2 ms apart)", spaced, 1.5);
    printRoundTrips(out, "back-to-back", packed, 1.3);
    const double serviceRate = median(serviceRates);
    const double referenceRate = median(referenceRates);
    std::fprintf(out,
                 "replies per second to one client (median of %zu alternating bursts of %d): service from %d "
                 "threads %.0f (goal >= 100000); reference from its own thread %.0f; ratio %.2f\n",
                 serviceRates.size(), kSenderThreads * kRepliesPerThread, kSenderThreads, serviceRate,
                 referenceRate, serviceRate / referenceRate);
    std::fflush(out);

    if (quick) {
        return;
    }
    ServiceServer idle;
    auto client = connectOrExit(idle.port);
    listedConnection(idle);
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double ticks = (processCpuSeconds() - before) * static_cast<double>(sysconf(_SC_CLK_TCK));
    std::fprintf(out, "idle service with one open connection: %.0f CPU ticks in 10 s (goal 0)\n", ticks);
}

// The service's standard output, which the tray application reads through a pipe: here a pipe that a
// thread of the benchmark drains, so that the figures do not depend on where the benchmark's own
// output goes (a terminal that falls behind would hold up whoever writes to it).
class DrainedStandardOutput {
  public:
    DrainedStandardOutput() {
        std::array<int, 2> ends{};
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        if (saved < 0 || pipe2(ends.data(), O_CLOEXEC) != 0 || dup2(ends[1], STDOUT_FILENO) < 0) {
            std::fprintf(stderr, "cannot redirect standard output\n");
            std::exit(1);
        }
        close(ends[1]);
        readEnd = ends[0];
        drainer = std::thread([this] {
            std::array<char, 65536> buffer{};
            while (read(readEnd, buffer.data(), buffer.size()) > 0) {
            }
        });
    }
    // Takes the service's last lines, then gives standard output back.
    ~DrainedStandardOutput() {
        brisel::common::logger().flush();
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);  // closes the pipe's last write end: the drainer sees its end
        close(saved);
        drainer.join();
        close(readEnd);
    }
    DrainedStandardOutput(const DrainedStandardOutput&) = delete;
    DrainedStandardOutput& operator=(const DrainedStandardOutput&) = delete;

    // A stream of the original standard output, for the figures.
    std::FILE* figures() const { return fdopen(dup(saved), "w"); }

  private:
    int saved = -1;
    int readEnd = -1;
    std::thread drainer;
};

// The load of the machine while the figures were taken.
void printLoad(std::FILE* out, const char* when) {
    std::array<double, 3> load{};
    if (getloadavg(load.data(), 3) == 3) {
        std::fprintf(out, "load average %s: %.2f %.2f %.2f on %ld processors\n", when, load[0], load[1],
                     load[2], sysconf(_SC_NPROCESSORS_ONLN));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string_view(argv[1]) == "--quick";
    // The service's log goes to a home folder of this run, never to the user's.
    std::string home = (std::filesystem::temp_directory_path() / "brisel-bench-XXXXXX").string();
    if (mkdtemp(home.data()) == nullptr) {
        return 1;
    }
    setenv("HOME", home.c_str(), 1);
    std::filesystem::create_directories(std::filesystem::path(home) / ".local/share/velko");
    lws_set_log_level(LLL_ERR, nullptr);
    {
        DrainedStandardOutput serviceOutput;
        std::FILE* out = serviceOutput.figures();
        if (out == nullptr) {
            return 1;
        }
        printLoad(out, "before");
        run(quick, out);
        printLoad(out, "after");
        std::fclose(out);
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
