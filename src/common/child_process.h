// External programs run as child processes, with a handle that never signals a reaped process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tl/expected.hpp>

#include "common/file_descriptor.h"

namespace brisel::common {

// What one of the child's output streams becomes. `intoStandardOutput` (standard error only) joins
// standard error to whatever standard output became, one interleaved stream.
enum class OutputHandling { inherit, pipe, intoStandardOutput };

// What the child's standard input becomes: ours, /dev/null, or a pipe whose writing end the caller
// takes with takeStandardInput().
enum class InputHandling { inherit, nullDevice, pipe };

struct SpawnOptions {
    std::filesystem::path executable;                     // run as given; PATH is not searched
    std::vector<std::string> arguments;                   // after argv[0], which is the executable's path
    std::optional<std::vector<std::string>> environment;  // "NAME=value" entries; none: inherit ours
    OutputHandling standardOutput = OutputHandling::inherit;
    OutputHandling standardError = OutputHandling::inherit;
    InputHandling standardInput = InputHandling::inherit;
    std::optional<std::filesystem::path> workingDirectory;  // none: ours
};

struct SpawnError {
    int errorNumber = 0;
    std::string message;  // "cannot start <path>: <system description>"
};

enum class ExitKind { exited, killedBySignal, unknown };

// How the child ended: its exit code, or the signal that ended it. `unknown` when the status was
// lost (someone else reaped the child).
struct ProcessExit {
    ExitKind kind = ExitKind::unknown;
    int value = 0;
    friend bool operator==(const ProcessExit&, const ProcessExit&) = default;
};

enum class TerminateResult { signalled, alreadyExited };

namespace detail {
class ChildState;
}

// One started child process. The child starts with only descriptors 0 to 2 open (every other
// descriptor is closed in it), an empty signal mask and SIGPIPE at its default action. A reaper
// thread notices the exit without reaping, then reaps under the handle's lock and records the
// status; terminate() signals only under that lock and only before the exit was recorded, so a
// reaped (and possibly reused) pid is never signalled. Destroying the handle neither waits for nor
// signals the child; it is still reaped. All members may be called from any thread.
class ChildProcess {
  public:
    // Starts the program. Errors: the executable cannot be run (missing, not executable), or a
    // pipe or process handle could not be made.
    static tl::expected<std::shared_ptr<ChildProcess>, SpawnError> spawn(const SpawnOptions& options);

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const;
    // "<ChildProcess pid=123 path=/usr/bin/dfu-util>"
    const std::string& description() const;
    // Sends SIGTERM unless the child's exit has been recorded.
    TerminateResult terminate();
    // Sends SIGKILL unless the child's exit has been recorded.
    TerminateResult kill();
    // Waits at most `timeout` for the exit; none when the child still runs.
    std::optional<ProcessExit> waitForExit(std::chrono::nanoseconds timeout);
    // The exit, once recorded.
    std::optional<ProcessExit> exitStatus() const;
    // The read end of the child's standard output or error when it was piped (and not yet taken);
    // an invalid descriptor otherwise. Close-on-exec.
    FileDescriptor takeStandardOutput();
    FileDescriptor takeStandardError();
    // The write end of the child's standard input when it was piped (and not yet taken); an invalid
    // descriptor otherwise. Close-on-exec.
    FileDescriptor takeStandardInput();

    // Only spawn() can make the key.
    class ConstructionKey {
        friend class ChildProcess;
        ConstructionKey() = default;
    };
    ChildProcess(ConstructionKey, std::shared_ptr<detail::ChildState> childState);

  private:
    std::shared_ptr<detail::ChildState> state;
};

}  // namespace brisel::common
