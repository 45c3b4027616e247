// The websocket server of the service against a minimal libwebsockets echo server built here:
// handshake round trip (p50, p99), replies per second from 8 threads to one client, and the CPU
// time of an idle service over 10 s. Prints the figures and their ratios at the end of the run.
#include <benchmark/benchmark.h>
#include <libwebsockets.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frame/controller_registry.h"
#include "frame/request_dispatcher.h"
#include "frame/websocket_server.h"
#include "support/websocket_test_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using brisel::test_support::WebSocketTestClient;

constexpr std::string_view kHandshake = R"({"buildNumber": 10240000008025})";

// One lws context that sends every received message back; one thread, one pending reply at a time.
class EchoServer {
  public:
    EchoServer() {
        info.port = 0;
        info.protocols = protocols.data();
        info.gid = -1;
        info.uid = -1;
        info.user = this;
        lws_set_log_level(LLL_ERR, nullptr);
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
    ~EchoServer() {
        stopping.store(true);
        if (context != nullptr) {
            lws_cancel_service(context);
            thread.join();
            lws_context_destroy(context);
        }
    }
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;

    std::uint16_t port = 0;

  private:
    static int callback(lws* wsi, lws_callback_reasons reason, void*, void* in, std::size_t len) {
        auto* self = static_cast<EchoServer*>(lws_context_user(lws_get_context(wsi)));
        if (reason == LWS_CALLBACK_RECEIVE) {
            self->pending.append(static_cast<const char*>(in), len);
            if (lws_is_final_fragment(wsi) != 0) {
                self->reply.assign(LWS_PRE, '\0');
                self->reply += self->pending;
                self->pending.clear();
                lws_callback_on_writable(wsi);
            }
        } else if (reason == LWS_CALLBACK_SERVER_WRITEABLE && self->reply.size() > LWS_PRE) {
            const std::size_t length = self->reply.size() - LWS_PRE;
            lws_write(wsi, reinterpret_cast<unsigned char*>(self->reply.data()) + LWS_PRE, length,
                      LWS_WRITE_TEXT);
            self->reply.clear();
        }
        return 0;
    }

    std::vector<lws_protocols> protocols = {{"echo", callback, 0, 65536, 0, nullptr, 0},
                                            {nullptr, nullptr, 0, 0, 0, nullptr, 0}};
    lws_context_creation_info info{};
    lws_context* context = nullptr;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::string pending;  // websocket thread only
    std::string reply;    // websocket thread only
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

Percentiles servicePercentiles;
Percentiles echoPercentiles;
double repliesPerSecondEightThreads = 0;
double repliesPerSecondOneThread = 0;
double idleTicks = -1;

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

void roundTrips(benchmark::State& state, std::uint16_t port, Percentiles& result) {
    auto client = WebSocketTestClient::connect("127.0.0.1", port);
    if (!client) {
        state.SkipWithError("no connection");
        return;
    }
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        client->sendText(kHandshake);
        auto reply = client->receive(std::chrono::seconds(10));
        const auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (!reply) {
            state.SkipWithError("no reply");
            return;
        }
        samples.push_back(elapsed);
    }
    result = percentilesOf(std::move(samples));
    state.counters["p50_us"] = result.p50Microseconds;
    state.counters["p99_us"] = result.p99Microseconds;
}

void BM_HandshakeRoundTripService(benchmark::State& state) {
    brisel::common::logger();  // created outside the measured loop
    ServiceServer service;
    roundTrips(state, service.port, servicePercentiles);
}

void BM_HandshakeRoundTripEchoReference(benchmark::State& state) {
    EchoServer echo;
    roundTrips(state, echo.port, echoPercentiles);
}

void repliesFromThreads(benchmark::State& state, int threads) {
    ServiceServer service;
    auto client = WebSocketTestClient::connect("127.0.0.1", service.port);
    std::shared_ptr<brisel::frame::WebSocket> ws;
    for (int i = 0; i < 1000 && !ws; ++i) {
        ws = service.server.getWS();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!client || !ws) {
        state.SkipWithError("no connection");
        return;
    }
    constexpr int kRepliesPerThread = 2000;
    const std::string reply =
        R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"classify","status":"DONE","data":{"message":{"label":"idle","score":0.97}}}})";
    std::int64_t total = 0;
    for (auto _ : state) {
        std::vector<std::thread> senders;
        for (int t = 0; t < threads; ++t) {
            senders.emplace_back([&] {
                for (int i = 0; i < kRepliesPerThread; ++i) {
                    ws->write(reply);
                }
            });
        }
        int received = 0;
        while (received < threads * kRepliesPerThread && client->receive(std::chrono::seconds(10))) {
            ++received;
        }
        for (auto& sender : senders) {
            sender.join();
        }
        total += received;
    }
    state.SetItemsProcessed(total);
    state.counters["replies_per_s"] =
        benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}

void BM_RepliesEightThreadsToOneClient(benchmark::State& state) {
    repliesFromThreads(state, 8);
}

void BM_RepliesOneThreadToOneClient(benchmark::State& state) {
    repliesFromThreads(state, 1);
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& value) {
        return static_cast<double>(value.tv_sec) + static_cast<double>(value.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_IdleServiceCpuOverTenSeconds(benchmark::State& state) {
    ServiceServer service;
    auto client = WebSocketTestClient::connect("127.0.0.1", service.port);
    if (!client) {
        state.SkipWithError("no connection");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (auto _ : state) {
        const double before = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double used = processCpuSeconds() - before;
        idleTicks = used * static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    state.counters["cpu_ticks"] = idleTicks;
}

// Keeps the replies-per-second counters so that main can print their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto counter = run.counters.find("replies_per_s");
            if (counter == run.counters.end()) {
                continue;
            }
            if (run.benchmark_name().find("Eight") != std::string::npos) {
                repliesPerSecondEightThreads = counter->second.value;
            } else {
                repliesPerSecondOneThread = counter->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(BM_HandshakeRoundTripService)->Iterations(5000)->UseRealTime();
BENCHMARK(BM_HandshakeRoundTripEchoReference)->Iterations(5000)->UseRealTime();
BENCHMARK(BM_RepliesEightThreadsToOneClient)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RepliesOneThreadToOneClient)->Iterations(3)->UseRealTime();
BENCHMARK(BM_IdleServiceCpuOverTenSeconds)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    // The service's log goes to a home folder of this run, never to the user's.
    std::string home = (std::filesystem::temp_directory_path() / "brisel-bench-XXXXXX").string();
    if (mkdtemp(home.data()) == nullptr) {
        return 1;
    }
    setenv("HOME", home.c_str(), 1);
    std::filesystem::create_directories(std::filesystem::path(home) / ".local/share/velko");
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (echoPercentiles.p50Microseconds > 0) {
        std::printf(
            "handshake round trip: service p50 %.1f us, p99 %.1f us; echo reference p50 %.1f us, p99 %.1f "
            "us; "
            "ratio p50 %.2f, p99 %.2f\n",
            servicePercentiles.p50Microseconds, servicePercentiles.p99Microseconds,
            echoPercentiles.p50Microseconds, echoPercentiles.p99Microseconds,
            servicePercentiles.p50Microseconds / echoPercentiles.p50Microseconds,
            servicePercentiles.p99Microseconds / echoPercentiles.p99Microseconds);
    }
    if (repliesPerSecondOneThread > 0) {
        std::printf("replies per second to one client: 8 threads %.0f, 1 thread %.0f; ratio %.2f\n",
                    repliesPerSecondEightThreads, repliesPerSecondOneThread,
                    repliesPerSecondEightThreads / repliesPerSecondOneThread);
    }
    if (idleTicks >= 0) {
        std::printf("idle service with one open connection: %.0f CPU ticks in 10 s (target 0)\n", idleTicks);
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
