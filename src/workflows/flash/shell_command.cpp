#include "workflows/flash/shell_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "common/dispatch_internal.h"
#include "common/home_folder_expansion.h"
#include "common/logger.h"
#include "common/paths.h"
#include "common/system_error.h"

namespace brisel::workflows {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

void setNonBlocking(int descriptor) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags >= 0) {
        ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    }
}

// Writing into a pipe whose reader is gone raises SIGPIPE at the writing thread: the pipe thread keeps
// it blocked and consumes a pending one, so the write just fails with EPIPE.
void blockBrokenPipeSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void consumeBrokenPipeSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    const timespec now{0, 0};
    while (::sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
    }
}

}  // namespace

ShellProcess::ShellProcess(std::shared_ptr<common::ChildProcess> child, common::FileDescriptor output,
                           common::FileDescriptor input, std::string inputText, ShellOutputHandler onData)
    : process(std::move(child)),
      outputPipe(std::move(output)),
      inputPipe(std::move(input)),
      inputBytes(std::move(inputText)),
      handler(std::move(onData)),
      wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      pipeThread([this] { servePipes(); }) {}

ShellProcess::~ShellProcess() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake.get(), &one, sizeof one);
    pipeThread.join();
}

bool ShellProcess::waitForOutputEnd(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return ended.wait_for(lock, limit, [this] { return outputEnded; });
}

void ShellProcess::servePipes() {
    common::detail::nameCurrentThread("brisel.shell");
    blockBrokenPipeSignal();
    setNonBlocking(outputPipe.get());
    std::size_t written = 0;
    bool writing = inputPipe.valid() && !inputBytes.empty();
    if (writing) {
        setNonBlocking(inputPipe.get());
    }
    std::array<std::uint8_t, kReadChunk> buffer{};
    bool reading = outputPipe.valid();
    while (reading) {
        std::array<pollfd, 3> watched{{{wake.get(), POLLIN, 0},
                                       {outputPipe.get(), POLLIN, 0},
                                       {writing ? inputPipe.get() : -1, POLLOUT, 0}}};
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (watched[0].revents != 0) {
            break;  // the owner stops us
        }
        if (writing && watched[2].revents != 0) {
            const ssize_t count =
                ::write(inputPipe.get(), inputBytes.data() + written, inputBytes.size() - written);
            if (count > 0) {
                written += static_cast<std::size_t>(count);
            } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
                consumeBrokenPipeSignal();
                writing = false;  // the child closed its input
            }
            writing = writing && written < inputBytes.size();
        }
        if (watched[1].revents != 0) {
            const ssize_t count = ::read(outputPipe.get(), buffer.data(), buffer.size());
            if (count > 0) {
                if (handler) {
                    handler(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(count)));
                }
            } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                reading = false;
            }
        }
    }
    std::lock_guard lock(mutex);
    outputEnded = true;
    ended.notify_all();
}

std::unique_ptr<ShellProcess> shell(const std::filesystem::path& executable,
                                    std::vector<std::string> arguments, std::optional<std::string> stdinText,
                                    std::optional<std::string> pwd, ShellOutputHandler onData) {
    common::SpawnOptions options;
    options.executable = executable;
    options.arguments = std::move(arguments);
    options.standardInput = stdinText ? common::InputHandling::pipe : common::InputHandling::nullDevice;
    options.standardOutput = common::OutputHandling::pipe;
    options.standardError = common::OutputHandling::intoStandardOutput;
    if (pwd) {
        options.workingDirectory = common::expandHomeFolder(*pwd, common::homeFolder().string());
    }
    auto started = common::ChildProcess::spawn(options);
    if (!started) {
        common::logger().critical("Failed to start task " + executable.string() + " due to error " +
                                  common::describeErrno(started.error().errorNumber));
        return nullptr;
    }
    auto child = std::move(*started);
    auto output = child->takeStandardOutput();
    auto input = child->takeStandardInput();
    std::string inputText = stdinText ? *stdinText + "\n" : std::string();
    return std::make_unique<ShellProcess>(std::move(child), std::move(output), std::move(input),
                                          std::move(inputText), std::move(onData));
}

}  // namespace brisel::workflows
