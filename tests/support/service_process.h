// The real brisel_core as a child of a test, in the test's private namespaces: the test program runs
// under `unshare -rmn` (its own network and mount namespace), so the service's fixed ports are free,
// the simulated boards and the fake cloud on 127.0.0.1 are the only peers, and fake flashing tools
// can be bind-mounted over /usr/local without touching the machine's.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <tl/expected.hpp>

#include "common/child_process.h"
#include "support/websocket_test_client.h"

namespace brisel::test_support {

// True when the calling process is in a user namespace of its own (as under `unshare -r`), where
// mounting over /usr/local touches nothing outside.
bool inPrivateUserNamespace();

// Brings the loopback interface of the private network namespace up. Errors name the failing step.
tl::expected<void, std::string> bringLoopbackUp();

// Makes `folder` the /usr/local of this process (a bind mount) holding `fakeTool` under each name of
// `toolPaths` (paths relative to /usr/local, such as "opt/velko/dfu-util" or "bin/openocd"). Refused
// outside a private user namespace. Later calls stack a new folder over the previous one.
tl::expected<void, std::string> mountFakeUsrLocal(const std::filesystem::path& folder,
                                                  const std::filesystem::path& fakeTool,
                                                  const std::vector<std::string>& toolPaths);

struct ServiceOptions {
    std::filesystem::path executable;  // the built brisel_core
    std::filesystem::path folder;      // holds the service's home/, tmp/ and output file
    // Added to (or replacing) the test's own environment, such as the simulator's UMOCKDEV_DIR.
    std::vector<std::pair<std::string, std::string>> environment;
    // Every fixed wait of the service is this fraction of its real length.
    double timeScale = 0.02;
};

// One running brisel_core. Stopped (SIGTERM, then SIGKILL after a bound) when destroyed.
class ServiceProcess {
  public:
    // Starts the service and waits (bounded) until its websocket port accepts connections.
    static tl::expected<std::unique_ptr<ServiceProcess>, std::string> start(ServiceOptions options);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // A new browser connection on 127.0.0.1:4751.
    tl::expected<WebSocketTestClient, std::string> connect() const;

    // SIGTERM, then SIGKILL when the service has not ended within `grace`. The exit, when seen.
    std::optional<common::ProcessExit> stop(std::chrono::milliseconds grace = std::chrono::seconds(20));
    // SIGKILL at once, as a crash would end it; waits for the exit.
    void kill();

    pid_t pid() const { return child->pid(); }
    const std::filesystem::path& home() const { return homeFolder; }
    const std::filesystem::path& temporaryFolder() const { return tmpFolder; }
    // The service's log file and its standard output and error, as they are now.
    std::string log() const;
    std::string output() const;
    // True when the output holds a sanitizer report.
    bool sanitizerReported() const;

    // Use start().
    ServiceProcess() = default;

  private:
    std::shared_ptr<common::ChildProcess> child;
    std::filesystem::path homeFolder;
    std::filesystem::path tmpFolder;
    std::filesystem::path outputFile;
    std::atomic<bool> drainQuit{false};
    std::atomic<bool> drainBusy{false};         // the drain holds bytes it has not yet written
    std::array<int, 2> drainedStreams{-1, -1};  // the pipes the drain reads (owned by it)
    std::thread outputDrain;  // ends when the service's output streams close, or on drainQuit
};

// The next text message of `client` whose text contains `needle`, skipping others, or none when
// `timeout` passes first.
std::optional<std::string> receiveContaining(WebSocketTestClient& client, std::string_view needle,
                                             std::chrono::milliseconds timeout);

// A field of /proc/<pid>/status as the number it shows ("Threads"; "VmRSS" and "VmHWM" in kB); 0 when
// it cannot be read.
std::uintmax_t processStatusField(pid_t pid, const std::string& field);

}  // namespace brisel::test_support
