// The fatal-signal handler (desktop/components/crash_handler.h) when a second fatal signal comes while it
// writes the marker: the helper aborts while its marker path is a FIFO, so the handler waits in open() until
// the test reads it.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProcess>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/event_wait.h"
#include "support/raw_tcp_server.h"
#include "support/temporary_folder.h"

namespace brisel::desktop::components {
namespace {

namespace fs = std::filesystem;

// Whether the thread has `signalNumber` blocked, as it has while it runs the handler.
bool blocks(qint64 process, qint64 thread, int signalNumber) {
    std::ifstream status("/proc/" + std::to_string(process) + "/task/" + std::to_string(thread) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigBlk:", 0) == 0) {
            return ((std::stoull(line.substr(7), nullptr, 16) >> (signalNumber - 1)) & 1U) != 0;
        }
    }
    return false;
}

// What a writer puts into the FIFO until it closes it; empty when nothing came within the bound.
std::string readFifo(const fs::path& fifo, std::chrono::milliseconds bound) {
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (fd >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (::poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return text;
}

class CrashHandlerTest : public ::testing::Test {
  protected:
    // Starts the helper, reads its lines, puts the FIFO in place of the marker and lets it abort; returns
    // once its main thread is in the handler.
    void abortHelper(const char* how, int lines) {
        helper.start(
            QStringLiteral(BRISEL_CRASH_HELPER),
            {QString::fromStdString(folder.path().string()),
             QStringLiteral("https://k@127.0.0.1:%1/42").arg(down.port()), QString::fromLatin1(how)});
        ASSERT_TRUE(desktop_test::waitUntil([&] {
            output += helper.readAllStandardOutput();
            return output.count('\n') >= lines;
        }));
        ASSERT_EQ(::mkfifo(marker().c_str(), 0600), 0);
        helper.write("go\n");
        ASSERT_TRUE(
            desktop_test::waitUntil([&] { return blocks(helper.processId(), helper.processId(), SIGABRT); }));
    }
    fs::path marker() const { return folder.path() / "crash.marker"; }
    void signalThread(qint64 thread, int signalNumber) {
        ASSERT_EQ(::syscall(SYS_tgkill, static_cast<pid_t>(helper.processId()), static_cast<pid_t>(thread),
                            signalNumber),
                  0);
    }

    test_support::TemporaryFolder folder;
    brisel::test::ClosedPort down;  // the helper's reports cannot go out
    QProcess helper;
    QByteArray output;
};

TEST_F(CrashHandlerTest, ASignalWhileTheMarkerIsWrittenWaitsAndTheFirstCrashIsReported) {
    abortHelper("abort-when-told", 1);
    signalThread(helper.processId(), SIGSEGV);
    const std::string written = readFifo(marker(), std::chrono::seconds(30));
    EXPECT_EQ(written.rfind("velko-crash 1\nsignal 6\n", 0), 0U) << written;
    EXPECT_NE(written.find("\nframe 0x"), std::string::npos) << written;
    ASSERT_TRUE(helper.waitForFinished(60000));
    EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
}

TEST_F(CrashHandlerTest, AnotherThreadThatCrashesMeanwhileEndsTheProcessAfterABoundedWait) {
    abortHelper("abort-when-told-beside-thread", 2);
    const qint64 waitingThread = QString::fromUtf8(output).split(u'\n').value(1).toLongLong();
    ASSERT_GT(waitingThread, 0);
    signalThread(waitingThread, SIGSEGV);  // the marker stays unread: the main thread never finishes
    ASSERT_TRUE(helper.waitForFinished(60000));
    EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
}

}  // namespace
}  // namespace brisel::desktop::components
