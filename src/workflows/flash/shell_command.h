// The one way the service starts other programs: an external tool as a child process whose output
// goes to a callback while the caller waits for it as it likes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "common/file_descriptor.h"

namespace brisel::workflows {

// Receives each chunk of a child's output (standard output and error, one interleaved stream), one
// chunk after the other, on the pipe thread of its ShellProcess.
using ShellOutputHandler = std::function<void(std::span<const std::uint8_t> chunk)>;

// A started child with the thread that serves its pipes: it writes the input text (when one was given)
// as the child reads it and reads the output to its end. The input pipe stays open until the object
// ends, so the child never sees the end of its input. Destroying the object stops the pipe thread and
// joins it; the child itself is neither waited for nor signalled (the holder of `child()` decides).
// Members may be called from any thread.
class ShellProcess {
  public:
    ~ShellProcess();
    ShellProcess(const ShellProcess&) = delete;
    ShellProcess& operator=(const ShellProcess&) = delete;

    const std::shared_ptr<common::ChildProcess>& child() const { return process; }

    // Waits at most `limit` until the output has reached its end (every writer of the pipe, the child
    // and whatever it started, has closed it). True when it has.
    bool waitForOutputEnd(std::chrono::milliseconds limit);

    // Only shell() makes these.
    ShellProcess(std::shared_ptr<common::ChildProcess> child, common::FileDescriptor output,
                 common::FileDescriptor input, std::string inputText, ShellOutputHandler onData);

  private:
    void servePipes();

    const std::shared_ptr<common::ChildProcess> process;
    common::FileDescriptor outputPipe;  // pipe thread only
    common::FileDescriptor inputPipe;   // pipe thread only
    const std::string inputBytes;
    const ShellOutputHandler handler;
    common::FileDescriptor wake;  // eventfd that stops the pipe thread
    std::mutex mutex;
    std::condition_variable ended;
    bool outputEnded = false;  // guarded by mutex
    std::thread pipeThread;    // last: starts after every member exists
};

// Starts `executable` (a path, taken as it is: no PATH search, no shell) with `arguments`, the whole
// environment of the service, standard output and error into one pipe read to its end and handed to
// `onData` (read and dropped when absent). Standard input: `stdinText` followed by one line feed when
// given, written once the child runs; /dev/null otherwise. `pwd`: the child's working folder, a leading
// "~" standing for the home folder; none keeps the service's. No descriptor of the service reaches the
// child. Returns at once; none when the program could not be started, after logging at critical
// "Failed to start task <path> due to error <description>". Any thread.
std::unique_ptr<ShellProcess> shell(const std::filesystem::path& executable,
                                    std::vector<std::string> arguments,
                                    std::optional<std::string> stdinText = std::nullopt,
                                    std::optional<std::string> pwd = std::nullopt,
                                    ShellOutputHandler onData = {});

}  // namespace brisel::workflows
