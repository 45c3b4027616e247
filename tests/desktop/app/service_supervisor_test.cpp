// Supervision of the service child with a fake service program.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <QCoreApplication>
#include <QFile>
#include <chrono>
#include <csignal>

#include "desktop/app/output_echo.h"
#include "desktop/app/service_supervisor.h"
#include "support/event_wait.h"
#include "support/temporary_folder.h"

namespace {

using namespace brisel::desktop::app;
using namespace std::chrono_literals;
using brisel::desktop_test::waitUntil;
using brisel::desktop_test::waitUntilSees;

const QString kFakeService = QStringLiteral(BRISEL_SOURCE_DIR "/tests/desktop/app/fake_service.py");

class ServiceSupervisorTest : public ::testing::Test {
  protected:
    ServiceSupervisorTest() : mark(QString::fromStdString((folder.path() / "mark").string())) {
        qputenv("FAKE_SERVICE_MARK", mark.toUtf8());
    }

    std::unique_ptr<ServiceSupervisor> supervisor(const QString& program) {
        auto made = std::make_unique<ServiceSupervisor>(
            SupervisorSettings{.serviceProgram = program, .terminationBound = 10s});
        QObject::connect(made.get(), &ServiceSupervisor::started, [this] { events << "started"; });
        QObject::connect(made.get(), &ServiceSupervisor::ended, [this](const std::optional<QString>& error) {
            events << (error ? "failed: " + *error : "ended");
        });
        return made;
    }

    bool terminated() const { return QFile(mark).exists(); }
    // The fake service handles SIGTERM from now on.
    bool ready() const { return QFile(mark + ".ready").exists(); }

    brisel::test_support::TemporaryFolder folder;
    QString mark;
    QStringList events;
};

// What the owner hears of each way a service goes: one report of the end, the start error when there
// is one, and nothing on the quit path.
TEST_F(ServiceSupervisorTest, ReportsAStartAndOneEndWithTheStartErrorAndNothingOnStop) {
    const auto crashing = supervisor(kFakeService);
    crashing->startServer();
    ASSERT_TRUE(waitUntil([&] { return events == QStringList{"started"} && ready(); }));
    ASSERT_EQ(::kill(static_cast<pid_t>(crashing->servicePid()), SIGKILL), 0);
    ASSERT_TRUE(waitUntilSees([&] { return events; },
                              [](const QStringList& seen) { return seen.size() >= 2; }, "the end"));
    EXPECT_EQ(events, (QStringList{"started", "ended"}));

    events.clear();
    const auto missing = supervisor(QString::fromStdString((folder.path() / "brisel_core").string()));
    missing->startServer();
    ASSERT_TRUE(waitUntil([&] { return !events.isEmpty(); }));
    ASSERT_EQ(events.size(), 1);
    EXPECT_TRUE(events.front().startsWith("failed: ")) << events.front().toStdString();
    EXPECT_GT(events.front().size(), QString("failed: ").size()) << "the start error is missing";

    events.clear();
    QFile::remove(mark + ".ready");
    const auto stopped = supervisor(kFakeService);
    stopped->startServer();
    ASSERT_TRUE(waitUntil([&] { return events == QStringList{"started"} && ready(); }));
    stopped->stop();
    EXPECT_TRUE(terminated());
    EXPECT_EQ(stopped->servicePid(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(events, QStringList{"started"});  // quitting is no failure
}

TEST(OutputEcho, KeepsACharacterSplitBetweenChunksAndDropsWhatIsNotUtf8) {
    OutputEcho echo;
    const QByteArray text = QStringLiteral("Grüße 😀").toUtf8();
    const qsizetype emoji = text.indexOf("\xF0");
    EXPECT_EQ(echo.take(text.left(3)), "Gr");  // "ü" is cut after its first byte
    EXPECT_EQ(echo.take(text.mid(3, emoji + 2 - 3)), QStringLiteral("üße "));
    EXPECT_EQ(echo.take(text.mid(emoji + 2)), QStringLiteral("😀"));
    EXPECT_EQ(echo.take("bad \xFF byte"), std::nullopt);
    EXPECT_EQ(echo.take("\xE2\x82"), std::nullopt);  // held back
    EXPECT_EQ(echo.take("\xAC!\n"), QStringLiteral("€!\n"));
}

}  // namespace
