// The fatal-signal handler (desktop/components/crash_reports/crash_handler.h) when a second fatal signal
// comes while it writes the marker: the helper aborts while its marker path is a FIFO, so the handler waits
// in open() until the test opens the FIFO for reading, or for ever.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProcess>

#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/event_wait.h"
#include "support/raw_tcp_server.h"
#include "support/temporary_folder.h"

namespace {

// Whether the helper's main thread has SIGABRT blocked, as it has while it runs the handler.
bool inTheHandler(qint64 process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/task/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigBlk:", 0) == 0) {
            return ((std::stoull(line.substr(7), nullptr, 16) >> (SIGABRT - 1)) & 1U) != 0;
        }
    }
    return false;
}

TEST(CrashHandler, ASecondFatalSignalWhileTheMarkerIsWrittenNeitherHangsNorReplacesTheFirst) {
    struct Row {
        const char* how;
        bool otherThread;  // the second signal goes to a thread that waits, else to the writing one
    };
    for (const Row& row : {Row{"abort-when-told", false}, Row{"abort-when-told-beside-thread", true}}) {
        SCOPED_TRACE(row.how);
        const brisel::test_support::TemporaryFolder folder;
        const brisel::test::ClosedPort down;
        QProcess helper;
        helper.start(
            QStringLiteral(BRISEL_CRASH_HELPER),
            {QString::fromStdString(folder.path().string()),
             QStringLiteral("https://k@127.0.0.1:%1/42").arg(down.port()), QString::fromLatin1(row.how)});
        QByteArray printed;  // the session, then the waiting thread
        ASSERT_TRUE(brisel::desktop_test::waitUntil([&] {
            printed += helper.readAllStandardOutput();
            return printed.count('\n') >= (row.otherThread ? 2 : 1);
        }));
        // Beside the helper's lock file, under the same name.
        std::vector<std::filesystem::path> locks;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path() / "running")) {
            if (entry.path().extension() == ".lock") {
                locks.push_back(entry.path());
            }
        }
        ASSERT_EQ(locks.size(), 1U);
        const std::string marker = std::filesystem::path(locks[0]).replace_extension(".marker").string();
        ASSERT_EQ(::mkfifo(marker.c_str(), 0600), 0);
        helper.write("go\n");
        ASSERT_TRUE(brisel::desktop_test::waitUntil([&] { return inTheHandler(helper.processId()); }));

        const qint64 target =
            row.otherThread ? printed.split('\n').value(1).toLongLong() : helper.processId();
        ASSERT_EQ(::syscall(SYS_tgkill, helper.processId(), target, SIGSEGV), 0);
        // The writing thread goes on once a reader is there; the waiting one ends the process itself.
        const int reader = row.otherThread ? -1 : ::open(marker.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_TRUE(helper.waitForFinished(60000));
        EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
        if (reader >= 0) {
            std::array<char, 65536> written{};
            const ssize_t length = ::read(reader, written.data(), written.size());
            ::close(reader);
            const std::string text(written.data(), static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
            EXPECT_EQ(text.rfind("velko-crash 2\nsignal 6\n", 0), 0U) << text;
            EXPECT_NE(text.find("\nframe 0x"), std::string::npos) << text;
        }
    }
}

}  // namespace
