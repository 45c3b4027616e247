// Supervision of the service child with a fake service program and scripted alerts.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <QFile>
#include <chrono>
#include <csignal>
#include <vector>

#include "desktop/app/output_echo.h"
#include "desktop/app/service_supervisor.h"
#include "support/event_wait.h"
#include "support/scripted_alerts.h"
#include "support/temporary_folder.h"

namespace {

using namespace brisel::desktop::app;
using namespace std::chrono_literals;
using brisel::desktop_test::ScriptedAlerts;
using brisel::desktop_test::waitUntil;
using brisel::desktop_test::waitUntilSees;

const QString kFakeService = QStringLiteral(BRISEL_SOURCE_DIR "/tests/desktop/app/fake_service.py");

class ServiceSupervisorTest : public ::testing::Test {
  protected:
    ServiceSupervisorTest() : mark(QString::fromStdString((folder.path() / "mark").string())) {
        qputenv("FAKE_SERVICE_MARK", mark.toUtf8());
    }

    std::unique_ptr<ServiceSupervisor> supervisor(const QString& program, std::chrono::milliseconds delay) {
        auto made = std::make_unique<ServiceSupervisor>(
            SupervisorSettings{.serviceProgram = program, .diagnosticsDelay = delay, .terminationBound = 10s},
            alerts);
        QObject::connect(made.get(), &ServiceSupervisor::statusTitleChanged, [this](const QString& title) {
            titles << title;
            titleTimes.push_back(std::chrono::steady_clock::now());
        });
        return made;
    }

    bool terminated() const { return QFile(mark).exists(); }
    // The fake service handles SIGTERM from now on.
    bool ready() const { return QFile(mark + ".ready").exists(); }

    brisel::test_support::TemporaryFolder folder;
    QString mark;
    ScriptedAlerts alerts;
    QStringList titles;
    std::vector<std::chrono::steady_clock::time_point> titleTimes;  // when each title came
};

TEST_F(ServiceSupervisorTest, AnEndedServiceGivesOneAlertAfterTheDelayAndIgnoreQuits) {
    const auto service = supervisor(kFakeService, 200ms);
    int ignored = 0;
    int relaunched = 0;
    QObject::connect(service.get(), &ServiceSupervisor::ignoreChosen, [&] { ++ignored; });
    QObject::connect(service.get(), &ServiceSupervisor::relaunchChosen, [&] { ++relaunched; });
    alerts.answerWith({kFirstButton + 1});  // Ignore
    service->startServer();
    ASSERT_TRUE(waitUntil([&] { return titles.size() == 1; }));
    EXPECT_EQ(titles, QStringList{kRunningTitle});

    ASSERT_EQ(::kill(static_cast<pid_t>(service->servicePid()), SIGKILL), 0);  // a crash
    ASSERT_TRUE(waitUntilSees([&] { return titles; },
                              [](const QStringList& seen) { return seen.size() >= 2; },
                              "the title after the crash"));
    EXPECT_EQ(titles[1], kCollectingDiagnosticsTitle);

    ASSERT_TRUE(waitUntil([&] { return ignored == 1; }));
    EXPECT_EQ(titles, (QStringList{kRunningTitle, kCollectingDiagnosticsTitle, kNotRunningTitle}));
    // The alert comes with the last title, not before the delay (however late the loop looked).
    ASSERT_EQ(titleTimes.size(), 3U);
    EXPECT_GE(titleTimes[2] - titleTimes[1], 200ms);
    ASSERT_EQ(alerts.shown().size(), 1U);
    const Alert& alert = alerts.shown().front();
    EXPECT_EQ(alert.style, AlertStyle::critical);
    EXPECT_EQ(alert.message, "Fatal Error");
    EXPECT_EQ(alert.informativeText, "Velko Brisel quit unexpectedly. ");
    EXPECT_EQ(alert.buttons, (QStringList{"Relaunch", "Ignore"}));
    EXPECT_EQ(relaunched, 0);
}

TEST_F(ServiceSupervisorTest, MissingServiceGivesTheAlertWithTheStartErrorAndRelaunchIsOffered) {
    const auto service = supervisor(QString::fromStdString((folder.path() / "brisel_core").string()), 100ms);
    int relaunched = 0;
    QObject::connect(service.get(), &ServiceSupervisor::relaunchChosen, [&] { ++relaunched; });
    alerts.answerWith({kFirstButton});  // Relaunch
    service->startServer();
    ASSERT_TRUE(waitUntil([&] { return relaunched == 1; }));
    EXPECT_EQ(titles, (QStringList{kCollectingDiagnosticsTitle, kNotRunningTitle}));
    ASSERT_EQ(alerts.shown().size(), 1U);
    const QString& text = alerts.shown().front().informativeText;
    EXPECT_TRUE(text.startsWith("Velko Brisel quit unexpectedly. ")) << text.toStdString();
    EXPECT_GT(text.size(), QString("Velko Brisel quit unexpectedly. ").size())
        << "the start error is missing";
}

TEST_F(ServiceSupervisorTest, StopSendsSigtermAndEndsSupervision) {
    const auto service = supervisor(kFakeService, 50ms);
    service->startServer();
    ASSERT_TRUE(waitUntil([&] { return titles.size() == 1 && ready(); }));
    service->stop();
    EXPECT_TRUE(terminated());
    EXPECT_EQ(service->servicePid(), 0);
    // Quitting is no failure: no diagnostics, no alert.
    EXPECT_EQ(titles, QStringList{kRunningTitle});
    EXPECT_TRUE(alerts.shown().empty());
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
