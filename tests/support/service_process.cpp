#include "support/service_process.h"

#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>
#include <thread>

#include "support/eventually.h"
#include "support/file_contents.h"

extern char** environ;

namespace brisel::test_support {

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kServicePort = 4751;

// The environment of the test with `changes` applied.
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& change : changes) {
            replaced = replaced || change.first == name;
        }
        if (!replaced) {
            entries.emplace_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

bool portAccepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Appends everything read from `first` and `second` to `file` until both have ended, or until `quit`
// is set and nothing more arrives (a grandchild may hold the streams open).
void drainInto(const fs::path& file, common::FileDescriptor first, common::FileDescriptor second,
               const std::atomic<bool>& quit, std::atomic<bool>& busy) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    std::array<pollfd, 2> streams{pollfd{first.get(), POLLIN, 0}, pollfd{second.get(), POLLIN, 0}};
    std::array<char, 4096> buffer{};
    while (streams[0].fd >= 0 || streams[1].fd >= 0) {
        const int ready = ::poll(streams.data(), streams.size(), 100);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (ready == 0 && quit.load()) {
            return;
        }
        for (auto& stream : streams) {
            if (stream.fd < 0 || stream.revents == 0) {
                continue;
            }
            busy = true;  // set before the read, cleared once what it read is in the file
            const ssize_t count = ::read(stream.fd, buffer.data(), buffer.size());
            if (count > 0) {
                out.write(buffer.data(), count);
                out.flush();
            } else if (count == 0 || errno != EINTR) {
                stream.fd = -1;
            }
            busy = false;
        }
    }
}

}  // namespace

bool inPrivateUserNamespace() {
    // The initial user namespace maps the whole range "0 0 4294967295".
    const std::string map = readText("/proc/self/uid_map");
    std::istringstream fields(map);
    long long inside = -1;
    long long outside = -1;
    long long count = -1;
    fields >> inside >> outside >> count;
    return !(inside == 0 && outside == 0 && count == 4294967295LL);
}

tl::expected<void, std::string> bringLoopbackUp() {
    if (!inPrivateUserNamespace()) {
        return tl::unexpected(
            std::string("not in a private namespace; run the test program under unshare -rmn"));
    }
    // SIOCSIFFLAGS directly: a helper program would inherit the test's sanitizer preload.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return tl::unexpected(std::string("cannot open a socket: ") + std::strerror(errno));
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    const int error = errno;
    ::close(fd);
    if (!up) {
        return tl::unexpected(std::string("cannot bring lo up: ") + std::strerror(error));
    }
    return {};
}

tl::expected<void, std::string> mountFakeUsrLocal(const fs::path& folder, const fs::path& fakeTool,
                                                  const std::vector<std::string>& toolPaths) {
    if (!inPrivateUserNamespace()) {
        return tl::unexpected(std::string("refusing to mount over /usr/local outside a private namespace"));
    }
    std::error_code error;
    for (const auto& tool : toolPaths) {
        const fs::path link = folder / tool;
        fs::create_directories(link.parent_path(), error);
        fs::create_symlink(fakeTool, link, error);
        if (error) {
            return tl::unexpected("cannot link " + link.string() + ": " + error.message());
        }
    }
    fs::create_directories(folder, error);
    if (::mount(folder.c_str(), "/usr/local", nullptr, MS_BIND, nullptr) != 0) {
        return tl::unexpected("cannot bind " + folder.string() + " over /usr/local: " + std::strerror(errno));
    }
    return {};
}

tl::expected<std::unique_ptr<ServiceProcess>, std::string> ServiceProcess::start(ServiceOptions options) {
    auto service = std::make_unique<ServiceProcess>();
    service->homeFolder = options.folder / "home";
    service->tmpFolder = options.folder / "tmp";
    service->outputFile = options.folder / "service.out";
    fs::create_directories(service->homeFolder);
    fs::create_directories(service->tmpFolder);
    if (portAccepts(kServicePort)) {
        return tl::unexpected(std::string("port 4751 is already taken in this namespace"));
    }
    auto environment = options.environment;
    environment.emplace_back("HOME", service->homeFolder.string());
    environment.emplace_back("TMPDIR", service->tmpFolder.string());
    std::ostringstream scale;
    scale << options.timeScale;
    environment.emplace_back("BRISEL_TIME_SCALE", scale.str());
    common::SpawnOptions spawn;
    // Started directly (a shell would crash under a sanitizer preload); its output is drained into
    // the output file by a thread of ours.
    spawn.executable = options.executable;
    spawn.standardOutput = common::OutputHandling::pipe;
    spawn.standardError = common::OutputHandling::pipe;
    spawn.environment = environmentWith(environment);
    auto child = common::ChildProcess::spawn(spawn);
    if (!child) {
        return tl::unexpected(child.error().message);
    }
    service->child = *child;
    auto standardOutput = service->child->takeStandardOutput();
    auto standardError = service->child->takeStandardError();
    service->drainedStreams = {standardOutput.get(), standardError.get()};
    service->outputDrain =
        std::thread(drainInto, service->outputFile, std::move(standardOutput), std::move(standardError),
                    std::cref(service->drainQuit), std::ref(service->drainBusy));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!portAccepts(kServicePort)) {
        if (service->child->waitForExit(std::chrono::milliseconds(10))) {
            return tl::unexpected("brisel_core ended at start:\n" + service->output());
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return tl::unexpected("brisel_core did not listen on 4751 within 30 s:\n" + service->output());
        }
    }
    return service;
}

ServiceProcess::~ServiceProcess() {
    if (child) {
        stop();
    }
    drainQuit = true;
    if (outputDrain.joinable()) {
        outputDrain.join();
    }
}

tl::expected<WebSocketTestClient, std::string> ServiceProcess::connect() const {
    return WebSocketTestClient::connect("127.0.0.1", kServicePort);
}

std::optional<common::ProcessExit> ServiceProcess::stop(std::chrono::milliseconds grace) {
    if (auto exit = child->exitStatus()) {
        return exit;
    }
    child->terminate();
    if (auto exit = child->waitForExit(grace)) {
        return exit;
    }
    ::kill(child->pid(), SIGKILL);
    return child->waitForExit(std::chrono::seconds(10));
}

void ServiceProcess::kill() {
    if (!child->exitStatus()) {
        ::kill(child->pid(), SIGKILL);
    }
    (void)child->waitForExit(std::chrono::seconds(10));
}

std::string ServiceProcess::log() const {
    return readText(homeFolder / ".local/share/velko/desktop_client.log");
}

std::string ServiceProcess::output() const {
    // What the service wrote before this call may still be in the pipes or on its way to the file:
    // wait (bounded, however busy the machine) until both pipes are empty and the drain holds nothing
    // it has not written.
    (void)eventually(
        [&] {
            bool pending = false;
            for (const int fd : drainedStreams) {
                int waiting = 0;
                pending = pending || (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0);
            }
            return !pending && !drainBusy.load();
        },
        std::chrono::seconds(20));
    return readText(outputFile);
}

bool ServiceProcess::sanitizerReported() const {
    const std::string text = output();
    return text.find("Sanitizer") != std::string::npos || text.find("runtime error:") != std::string::npos;
}

std::optional<std::string> receiveContaining(WebSocketTestClient& client, std::string_view needle,
                                             std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        auto message = client.receive(left);
        if (!message) {
            return std::nullopt;
        }
        if (message->payload.find(needle) != std::string::npos) {
            return message->payload;
        }
    }
}

std::uintmax_t processStatusField(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stoull(line.substr(field.size() + 1));
        }
    }
    return 0;
}

}  // namespace brisel::test_support
