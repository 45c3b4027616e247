// The stale-service cleanup against real listeners on a free port, and the socket-table reader.
#include <gtest/gtest.h>

#include <QProcess>
#include <csignal>
#include <filesystem>

#include "desktop/app/listening_sockets.h"
#include "desktop/app/stale_service_cleanup.h"
#include "support/listener_program.h"
#include "support/temporary_folder.h"

namespace {

using namespace brisel::desktop::app;
using namespace std::chrono_literals;
using brisel::desktop_test::ListenerProgram;

TEST(ListeningSockets, OnlyListenersOnThePortCount) {
    const std::string table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:128F 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4242 1\n"
        "   1: 0100007F:128F 0100007F:D431 01 00000000:00000000 00:00000000 00000000  1000        0 4343 1\n"
        "   2: 00000000:1770 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4444 1\n"
        "   3: 00000000000000000000000000000000:128F 00000000000000000000000000000000:0000 0A "
        "00000000:00000000 00:00000000 00000000   107        0 4545 1\n"
        "   4: 0100007F:128F 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 x1 1\n"
        "   5: 0100007F:12345 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4646 1\n"
        "   6: 0100007F:128F 00000000:0000 0A\n"
        "garbage";
    EXPECT_EQ(listeningSockets(table, 4751),
              (std::vector<ListeningSocket>{{.inode = 4242, .owner = 1000}, {.inode = 4545, .owner = 107}}));
    EXPECT_TRUE(listeningSockets("", 4751).empty());
}

TEST(StaleServiceCleanup, TerminatesOnlyOurServiceAndWaitsUntilThePortIsFree) {
    const brisel::test_support::TemporaryFolder folder;
    {
        const ListenerProgram service(folder.path(), "brisel_core", 0);
        const ListenerProgram foreign(folder.path(), "other_server", service.boundPort);
        const auto port = static_cast<std::uint16_t>(service.boundPort);
        const CleanupReport report = stopStaleService(port, 300ms);
        EXPECT_EQ(report.terminated, std::vector<pid_t>{static_cast<pid_t>(service.process.processId())});
        EXPECT_EQ(report.leftAlone, std::vector<pid_t>{static_cast<pid_t>(foreign.process.processId())});
        EXPECT_FALSE(report.portFree);  // the foreign listener still holds it
        EXPECT_EQ(foreign.process.state(), QProcess::Running);
    }
    ListenerProgram service(folder.path(), "brisel_core", 0);
    const auto port = static_cast<std::uint16_t>(service.boundPort);
    const CleanupReport report = stopStaleService(port, 30s);
    EXPECT_EQ(report.terminated.size(), 1U);
    EXPECT_TRUE(report.leftAlone.empty());
    ASSERT_TRUE(report.portFree);
    ASSERT_TRUE(service.process.waitForFinished(10000));
    EXPECT_EQ(service.process.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(service.process.exitCode(), SIGTERM);

    // Nothing on the port: nothing to do.
    const CleanupReport idle = stopStaleService(port, 30s);
    EXPECT_TRUE(idle.portFree);
    EXPECT_TRUE(idle.terminated.empty());
}

}  // namespace
