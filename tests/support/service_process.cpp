#include "support/service_process.h"

#include "support/shell_command.h"

#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

extern char** environ;

namespace brisel::test_support {

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kServicePort = 4751;

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

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

}  // namespace

bool inPrivateUserNamespace() {
    // The initial user namespace maps the whole range "0 0 4294967295".
    const std::string map = readWhole("/proc/self/uid_map");
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
    // Without the preloads: a sanitizer runtime must not be loaded into the shell or `ip`.
    if (brisel::test::runShell("ip link set lo up") != 0) {
        return tl::unexpected(std::string("ip link set lo up failed"));
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
    // The shell only redirects the output and is replaced by the service (same pid).
    spawn.executable = "/bin/sh";
    spawn.arguments = {"-c", "exec \"$0\" >\"$1\" 2>&1", options.executable.string(),
                       service->outputFile.string()};
    spawn.environment = environmentWith(environment);
    auto child = common::ChildProcess::spawn(spawn);
    if (!child) {
        return tl::unexpected(child.error().message);
    }
    service->child = *child;
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
    return readWhole(homeFolder / ".local/share/velko/desktop_client.log");
}

std::string ServiceProcess::output() const {
    return readWhole(outputFile);
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

}  // namespace brisel::test_support
