#include "common/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "common/running_process_manager.h"
#include "support/log_capture.h"

namespace brisel::common {
namespace {

using namespace std::chrono_literals;

constexpr auto kSoon = 20s;

std::shared_ptr<ChildProcess> start(const std::string& program, std::vector<std::string> arguments,
                                    OutputHandling output = OutputHandling::inherit) {
    SpawnOptions options;
    options.executable = program;
    options.arguments = std::move(arguments);
    options.standardOutput = output;
    auto child = ChildProcess::spawn(options);
    EXPECT_TRUE(child.has_value()) << (child ? "" : child.error().message);
    return child ? *child : nullptr;
}

std::shared_ptr<ChildProcess> startSleep() {
    return start("/bin/sleep", {"30"});
}

std::string readAll(FileDescriptor fd) {
    std::string text;
    char buffer[256];
    ssize_t got = 0;
    while ((got = ::read(fd.get(), buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

TEST(ChildProcessTest, TerminateEndsARunningChildWithSigterm) {
    auto child = startSleep();
    ASSERT_TRUE(child);
    EXPECT_EQ(child->description(),
              "<ChildProcess pid=" + std::to_string(child->pid()) + " path=/bin/sleep>");
    EXPECT_FALSE(child->exitStatus().has_value());
    EXPECT_EQ(child->terminate(), TerminateResult::signalled);
    EXPECT_EQ(child->waitForExit(kSoon), (ProcessExit{ExitKind::killedBySignal, SIGTERM}));
}

TEST(ChildProcessTest, ReapedChildIsNeverSignalled) {
    auto child = start("/bin/sh", {"-c", "exit 3"});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->waitForExit(kSoon), (ProcessExit{ExitKind::exited, 3}));
    EXPECT_EQ(child->terminate(), TerminateResult::alreadyExited);
    EXPECT_EQ(child->exitStatus(), (ProcessExit{ExitKind::exited, 3}));
}

TEST(ChildProcessTest, WaitForExitTimesOutWhileTheChildRuns) {
    auto child = startSleep();
    ASSERT_TRUE(child);
    EXPECT_FALSE(child->waitForExit(10ms).has_value());
    child->terminate();
    EXPECT_TRUE(child->waitForExit(kSoon).has_value());
}

TEST(ChildProcessTest, MissingProgramIsAnError) {
    SpawnOptions options;
    options.executable = "/nonexistent/flasher";
    auto child = ChildProcess::spawn(options);
    ASSERT_FALSE(child.has_value());
    EXPECT_EQ(child.error().errorNumber, ENOENT);
    EXPECT_EQ(child.error().message, "cannot start /nonexistent/flasher: No such file or directory");
}

TEST(ChildProcessTest, PipedOutputIsReadableAndOurDescriptorsStayClosed) {
    // A descriptor opened without close-on-exec, as a careless library might.
    FileDescriptor leaky(::open("/dev/null", O_RDONLY));
    ASSERT_TRUE(leaky.valid());
    std::string probe =
        "echo hello; test -e /proc/self/fd/" + std::to_string(leaky.get()) + " && echo leaked || echo closed";
    auto child = start("/bin/sh", {"-c", probe}, OutputHandling::pipe);
    ASSERT_TRUE(child);
    FileDescriptor output = child->takeStandardOutput();
    ASSERT_TRUE(output.valid());
    EXPECT_FALSE(child->takeStandardOutput().valid());
    EXPECT_FALSE(child->takeStandardError().valid());
    EXPECT_EQ(readAll(std::move(output)), "hello\nclosed\n");
    EXPECT_EQ(child->waitForExit(kSoon), (ProcessExit{ExitKind::exited, 0}));
}

TEST(RunningProcessManagerTest, ReplacingTerminatesTheHeldProcessAndLogsIt) {
    test_support::LogCapture capture;
    RunningProcessManager manager;
    auto first = startSleep();
    auto second = startSleep();
    ASSERT_TRUE(first && second);

    manager.setInFlightProcess(first);
    EXPECT_EQ(capture.count("Terminating process"), 0u);
    manager.setInFlightProcess(second);
    EXPECT_EQ(manager.inFlightProcess(), second);
    EXPECT_EQ(first->waitForExit(kSoon), (ProcessExit{ExitKind::killedBySignal, SIGTERM}));
    EXPECT_EQ(capture.count("] info: Terminating process " + first->description()), 1u);
    EXPECT_FALSE(second->exitStatus().has_value());

    manager.setInFlightProcess(nullptr);
    EXPECT_EQ(manager.inFlightProcess(), nullptr);
    EXPECT_TRUE(second->waitForExit(kSoon).has_value());
}

TEST(RunningProcessManagerTest, ClearingAnEmptyHolderLogsNothing) {
    test_support::LogCapture capture;
    RunningProcessManager manager;
    manager.setInFlightProcess(nullptr);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(RunningProcessManagerTest, EndedProcessIsLoggedButNotSignalled) {
    test_support::LogCapture capture;
    RunningProcessManager manager;
    auto ended = start("/bin/true", {});
    ASSERT_TRUE(ended);
    ASSERT_TRUE(ended->waitForExit(kSoon).has_value());
    manager.setInFlightProcess(ended);
    manager.setInFlightProcess(nullptr);
    EXPECT_EQ(capture.count("Terminating process " + ended->description()), 1u);
    EXPECT_EQ(ended->terminate(), TerminateResult::alreadyExited);
    EXPECT_EQ(ended->exitStatus(), (ProcessExit{ExitKind::exited, 0}));
}

TEST(RunningProcessManagerTest, ConcurrentReplacementsLeaveExactlyOneRunning) {
    RunningProcessManager manager;
    constexpr std::size_t kThreads = 4;
    std::vector<std::shared_ptr<ChildProcess>> children(kThreads);
    std::vector<std::thread> threads;
    for (std::size_t index = 0; index < kThreads; ++index) {
        threads.emplace_back([&, index] {
            children[index] = startSleep();
            manager.setInFlightProcess(children[index]);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    auto held = manager.inFlightProcess();
    ASSERT_TRUE(held);
    std::size_t running = 0;
    for (const auto& child : children) {
        ASSERT_TRUE(child);
        if (child == held) {
            EXPECT_FALSE(child->waitForExit(50ms).has_value());
            ++running;
        } else {
            EXPECT_EQ(child->waitForExit(kSoon), (ProcessExit{ExitKind::killedBySignal, SIGTERM}));
        }
    }
    EXPECT_EQ(running, 1u);
    manager.setInFlightProcess(nullptr);
    EXPECT_TRUE(held->waitForExit(kSoon).has_value());
}

TEST(RunningProcessManagerTest, SharedInstanceIsOne) {
    EXPECT_EQ(&RunningProcessManager::shared(), &RunningProcessManager::shared());
    EXPECT_EQ(RunningProcessManager::shared().inFlightProcess(), nullptr);
}

}  // namespace
}  // namespace brisel::common
