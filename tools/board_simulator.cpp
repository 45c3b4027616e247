// Runs one board scenario for end-to-end runs and for trying the service by hand.
//
//   board_simulator --list
//   board_simulator <scenario> <control folder> [--wifi-port <port>]
//
// Must run with LD_PRELOAD=libumockdev-preload.so.0. Writes into the control folder, each file whole:
// "library.bin" (the scenario's library image, if any), "bluetooth.bin" (the relayed Bluetooth bytes,
// if any), "state.json" (the boards' state; rewritten on SIGUSR1 and at exit) and, last, once the
// boards are up, "environment" (UMOCKDEV_DIR=... and BRISEL_SIM_TOOL_SOCKET=... lines for the
// service's environment). Runs until SIGTERM or SIGINT.
#include <signal.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "support/board_scenarios.h"

#if defined(__SANITIZE_THREAD__)
// glib is built without ThreadSanitizer and hands data to umockdev's worker thread through futexes
// that the sanitizer cannot see; its reports inside glib are not about this program.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libglib-2.0.so\n";
}
#endif

namespace {

namespace fs = std::filesystem;
using brisel::test::BoardSimulator;

int usage() {
    std::fprintf(stderr,
                 "usage: board_simulator --list\n"
                 "       board_simulator <scenario> <control folder> [--wifi-port <port>]\n");
    return 2;
}

// Writes the file whole: a temporary name renamed into place, so that a reader never sees it half written.
bool writeWhole(const fs::path& path, std::string_view bytes) {
    const fs::path partial = path.string() + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "board_simulator: cannot write %s\n", partial.c_str());
            return false;
        }
    }
    std::error_code error;
    fs::rename(partial, path, error);
    return !error;
}

bool writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    return writeWhole(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--list") {
        for (const auto& scenario : brisel::test::boardScenarios()) {
            std::printf("%-32s %s\n", scenario.name.c_str(), scenario.workflow.c_str());
        }
        return 0;
    }
    if (argc != 3 && argc != 5) {
        return usage();
    }
    const auto* scenario = brisel::test::findScenario(argv[1]);
    if (scenario == nullptr) {
        std::fprintf(stderr, "board_simulator: unknown scenario '%s'; --list shows them\n", argv[1]);
        return 2;
    }
    std::uint16_t wifiPort = 6012;
    if (argc == 5) {
        const std::string_view port = argv[4];
        if (std::string_view(argv[3]) != "--wifi-port" ||
            std::from_chars(port.data(), port.data() + port.size(), wifiPort).ec != std::errc()) {
            return usage();
        }
    }
    const fs::path folder = argv[2];
    std::error_code error;
    fs::create_directories(folder, error);

    // Block the signals before any thread starts, so that only sigwait below receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto simulator = BoardSimulator::create(folder);
    if (!simulator) {
        std::fprintf(stderr, "board_simulator: %s\n", simulator.error().c_str());
        return 1;
    }
    brisel::test::startScenario(**simulator, *scenario, wifiPort);
    if (scenario->libraryFirmware) {
        writeBytes(folder / "library.bin", brisel::test::libraryImage(*scenario));
    }
    if (scenario->bluetoothPackets > 0) {
        std::vector<std::uint8_t> relayed;
        for (const auto& chunk : brisel::test::bluetoothRelayChunks(*scenario)) {
            relayed.insert(relayed.end(), chunk.begin(), chunk.end());
        }
        writeBytes(folder / "bluetooth.bin", relayed);
    }
    (*simulator)->writeState(folder / "state.json");
    std::string environment;
    for (const auto& [name, value] : (*simulator)->environment()) {
        environment += name + "=" + value + "\n";
    }
    // Last: its appearance tells a waiting test run that everything else is in place.
    if (!writeWhole(folder / "environment", environment)) {
        return 1;
    }
    std::printf("board_simulator: scenario %s running; environment in %s\n", scenario->name.c_str(),
                (folder / "environment").c_str());
    std::fflush(stdout);

    for (;;) {
        int received = 0;
        if (sigwait(&signals, &received) != 0) {
            continue;
        }
        if (!(*simulator)->writeState(folder / "state.json")) {
            std::fprintf(stderr, "board_simulator: cannot write %s\n", (folder / "state.json").c_str());
        }
        if (received != SIGUSR1) {
            return 0;
        }
    }
}
