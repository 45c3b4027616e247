#include "common/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "common/dispatch_internal.h"
#include "common/logger.h"
#include "common/system_error.h"

extern char** environ;

namespace brisel::common {
namespace detail {
namespace {

// Debian 12's <sys/pidfd.h> lacks C linkage for C++, so the two calls go through syscall().
int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int sendSignalThroughPidfd(int pidfd, int signalNumber) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signalNumber, nullptr, 0));
}

}  // namespace

class ChildState {
  public:
    ChildState(pid_t childPid, FileDescriptor childPidfd, std::string text)
        : pid(childPid), pidfd(std::move(childPidfd)), description(std::move(text)) {}

    // Reaper thread: the child has exited (its pidfd is readable). Reaps it under the lock and
    // records the status; false when it turned out not to have exited yet.
    bool reap() {
        std::lock_guard lock(mutex);
        siginfo_t info{};
        int result = 0;
        do {
            result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            exit = ProcessExit{ExitKind::unknown, 0};  // reaped elsewhere; the status is lost
        } else if (info.si_pid == 0) {
            return false;
        } else if (info.si_code == CLD_EXITED) {
            exit = ProcessExit{ExitKind::exited, info.si_status};
        } else {
            exit = ProcessExit{ExitKind::killedBySignal, info.si_status};
        }
        exited.notify_all();
        return true;
    }

    TerminateResult sendSignal(int signalNumber) {
        std::lock_guard lock(mutex);
        if (exit) {
            return TerminateResult::alreadyExited;
        }
        // Not reaped while we hold the lock, so the pid still names our child.
        sendSignalThroughPidfd(pidfd.get(), signalNumber);
        return TerminateResult::signalled;
    }

    std::optional<ProcessExit> waitForExit(std::chrono::nanoseconds timeout) {
        std::unique_lock lock(mutex);
        exited.wait_for(lock, clampedDuration(timeout), [this] { return exit.has_value(); });
        return exit;
    }

    std::optional<ProcessExit> exitStatus() {
        std::lock_guard lock(mutex);
        return exit;
    }

    int waitDescriptor() const { return pidfd.get(); }

    const pid_t pid;
    const FileDescriptor pidfd;
    const std::string description;

    std::mutex mutex;
    FileDescriptor standardOutput;  // guarded by mutex
    FileDescriptor standardError;   // guarded by mutex
    FileDescriptor standardInput;   // guarded by mutex

  private:
    std::condition_variable exited;
    std::optional<ProcessExit> exit;  // guarded by mutex
};

namespace {

// One thread that polls the pidfds of all running children and reaps each as it exits.
class ChildReaper {
  public:
    ChildReaper() : wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~ChildReaper() {
        std::thread toJoin;
        {
            std::lock_guard lock(mutex);
            stopping = true;
            toJoin = std::move(thread);
        }
        signalWake();
        if (toJoin.joinable()) {
            toJoin.join();
        }
    }
    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;

    void watch(std::shared_ptr<ChildState> child) {
        {
            std::lock_guard lock(mutex);
            watched.push_back(std::move(child));
            if (!thread.joinable() && !stopping) {
                thread = std::thread([this] { run(); });
            }
        }
        signalWake();
    }

  private:
    void signalWake() {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wake.get(), &one, sizeof one);
    }

    void run() {
        nameCurrentThread("brisel.reaper");
        for (;;) {
            std::vector<std::shared_ptr<ChildState>> children;
            {
                std::lock_guard lock(mutex);
                if (stopping) {
                    return;
                }
                children = watched;
            }
            std::vector<pollfd> descriptors;
            descriptors.push_back(pollfd{wake.get(), POLLIN, 0});
            for (const auto& child : children) {
                descriptors.push_back(pollfd{child->waitDescriptor(), POLLIN, 0});
            }
            // Event-driven: woken by a child's exit, a new child or the stop request.
            if (::poll(descriptors.data(), descriptors.size(), -1) < 0) {
                continue;  // EINTR
            }
            if (descriptors[0].revents != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] ssize_t ignored = ::read(wake.get(), &count, sizeof count);
            }
            for (std::size_t index = 0; index < children.size(); ++index) {
                if (descriptors[index + 1].revents != 0 && children[index]->reap()) {
                    std::lock_guard lock(mutex);
                    std::erase(watched, children[index]);
                }
            }
        }
    }

    FileDescriptor wake;
    std::mutex mutex;
    std::vector<std::shared_ptr<ChildState>> watched;  // guarded by mutex
    bool stopping = false;                             // guarded by mutex
    std::thread thread;                                // guarded by mutex
};

ChildReaper& childReaper() {
    logger();  // destroyed after the reaper
    static ChildReaper reaper;
    return reaper;
}

// Owns posix_spawn's action list and attributes.
class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
};

tl::expected<std::pair<FileDescriptor, FileDescriptor>, int> makePipe() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return tl::unexpected(errno);
    }
    return std::make_pair(FileDescriptor(ends[0]), FileDescriptor(ends[1]));
}

}  // namespace
}  // namespace detail

tl::expected<std::shared_ptr<ChildProcess>, SpawnError> ChildProcess::spawn(const SpawnOptions& options) {
    const std::string path = options.executable.string();
    auto failure = [&](int errorNumber) {
        return tl::unexpected(
            SpawnError{errorNumber, "cannot start " + path + ": " + describeErrno(errorNumber)});
    };

    detail::SpawnSetup setup;
    FileDescriptor inputRead, inputWrite, outputRead, outputWrite, errorRead, errorWrite;
    if (options.standardInput == InputHandling::pipe) {
        auto ends = detail::makePipe();
        if (!ends) {
            return failure(ends.error());
        }
        std::tie(inputRead, inputWrite) = std::move(*ends);
        posix_spawn_file_actions_adddup2(&setup.actions, inputRead.get(), STDIN_FILENO);
    } else if (options.standardInput == InputHandling::nullDevice) {
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (options.standardOutput == OutputHandling::pipe) {
        auto ends = detail::makePipe();
        if (!ends) {
            return failure(ends.error());
        }
        std::tie(outputRead, outputWrite) = std::move(*ends);
        posix_spawn_file_actions_adddup2(&setup.actions, outputWrite.get(), STDOUT_FILENO);
    }
    if (options.standardError == OutputHandling::pipe) {
        auto ends = detail::makePipe();
        if (!ends) {
            return failure(ends.error());
        }
        std::tie(errorRead, errorWrite) = std::move(*ends);
        posix_spawn_file_actions_adddup2(&setup.actions, errorWrite.get(), STDERR_FILENO);
    } else if (options.standardError == OutputHandling::intoStandardOutput) {
        posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    }
    std::string workingDirectory;
    if (options.workingDirectory) {
        workingDirectory = options.workingDirectory->string();
        posix_spawn_file_actions_addchdir_np(&setup.actions, workingDirectory.c_str());
    }
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argumentStorage;
    argumentStorage.push_back(path);
    argumentStorage.insert(argumentStorage.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStorage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environmentStorage;
    std::vector<char*> envp;
    char** environment = environ;
    if (options.environment) {
        environmentStorage = *options.environment;
        for (std::string& entry : environmentStorage) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        environment = envp.data();
    }

    pid_t pid = 0;
    int spawned =
        ::posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv.data(), environment);
    if (spawned != 0) {
        return failure(spawned);
    }
    // The child is ours and not yet reaped, so the pid cannot name another process here.
    FileDescriptor pidfd(detail::openPidfd(pid));
    if (!pidfd.valid()) {
        int openError = errno;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return failure(openError);
    }
    auto state = std::make_shared<detail::ChildState>(
        pid, std::move(pidfd), "<ChildProcess pid=" + std::to_string(pid) + " path=" + path + ">");
    state->standardOutput = std::move(outputRead);
    state->standardError = std::move(errorRead);
    state->standardInput = std::move(inputWrite);
    detail::childReaper().watch(state);
    return std::make_shared<ChildProcess>(ConstructionKey{}, std::move(state));
}

ChildProcess::ChildProcess(ConstructionKey, std::shared_ptr<detail::ChildState> childState)
    : state(std::move(childState)) {}

ChildProcess::~ChildProcess() = default;

pid_t ChildProcess::pid() const {
    return state->pid;
}

const std::string& ChildProcess::description() const {
    return state->description;
}

TerminateResult ChildProcess::terminate() {
    return state->sendSignal(SIGTERM);
}

TerminateResult ChildProcess::kill() {
    return state->sendSignal(SIGKILL);
}

std::optional<ProcessExit> ChildProcess::waitForExit(std::chrono::nanoseconds timeout) {
    return state->waitForExit(timeout);
}

std::optional<ProcessExit> ChildProcess::exitStatus() const {
    return state->exitStatus();
}

FileDescriptor ChildProcess::takeStandardOutput() {
    std::lock_guard lock(state->mutex);
    return std::move(state->standardOutput);
}

FileDescriptor ChildProcess::takeStandardError() {
    std::lock_guard lock(state->mutex);
    return std::move(state->standardError);
}

FileDescriptor ChildProcess::takeStandardInput() {
    std::lock_guard lock(state->mutex);
    return std::move(state->standardInput);
}

}  // namespace brisel::common
