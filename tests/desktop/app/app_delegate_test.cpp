// The launch sequence and the quit path in process: a fake service program, scripted alerts, a private
// session bus (the test program runs under dbus-run-session) and Qt's offscreen platform, where the
// tray is whatever the test says.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <csignal>

#include "desktop/app/app_delegate.h"
#include "desktop/app/quit_on_signals.h"
#include "desktop/app/user_defaults.h"
#include "desktop/link/notice_bus.h"
#include "desktop/link/session_bus_names.h"
#include "support/event_wait.h"
#include "support/scripted_alerts.h"
#include "support/temporary_folder.h"

namespace {

using namespace brisel::desktop::app;
using namespace std::chrono_literals;
using brisel::desktop_test::ScriptedAlerts;
using brisel::desktop_test::waitUntil;

// A loopback port that nothing listens on.
std::uint16_t freePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

class AppDelegateTest : public ::testing::Test {
  protected:
    AppDelegateTest() : mark(QString::fromStdString((folder.path() / "mark").string())) {
        qputenv("FAKE_SERVICE_MARK", mark.toUtf8());
    }

    // A delegate as main() makes one, with the fake service and the test's seams.
    std::unique_ptr<AppDelegate> delegate(bool trayAvailable) {
        return std::make_unique<AppDelegate>(
            AppEnvironment{
                .arguments = {},
                .branch = "master",
                .release = "0.1.0",
                .serviceProgram = BRISEL_SOURCE_DIR "/tests/desktop/app/fake_service.py",
                .launcherProgram = "/opt/Velko Brisel/libexec/brisel/BriselLaunchHelper",
                .ownProgram = "/opt/Velko Brisel/bin/Velko Brisel",
                .bus = QDBusConnection::sessionBus(),
                .servicePort = freePort(),
                .trayHostBound = 100ms,
                .diagnosticsDelay = 50ms,
                .terminationBound = 10s,
                .startDetached =
                    [this](const QString& program, QString& error) {
                        relaunched << program;
                        error = "cannot start it";
                        return relaunchWorks;
                    },
                .trayAvailable = [trayAvailable] { return trayAvailable; },
                .exit = [this](int status) { exits.push_back(status); },
            },
            AppParts{.alerts = alerts,
                     .updater = updater,
                     .crashReporter = crashReporter,
                     .menuHooks = loggingMenuHooks()});
    }

    bool serviceTerminated() const { return QFile(mark).exists(); }
    // The fake service handles SIGTERM from now on.
    bool serviceReady() const { return QFile(mark + ".ready").exists(); }
    static QString entryPath() { return LoginItem::entryPath(); }
    static QAction* openAtLoginItem(AppDelegate& app) {
        for (QAction* action : app.statusMenu()->menu().actions()) {
            if (action->text() == "Open at Login") {
                return action;
            }
        }
        return nullptr;
    }

    brisel::test_support::TemporaryFolder folder;
    QString mark;
    ScriptedAlerts alerts;
    LoggingUpdater updater;
    LoggingCrashReporter crashReporter;
    std::vector<int> exits;
    QStringList relaunched;
    bool relaunchWorks = true;
};

TEST_F(AppDelegateTest, FirstRunRegistersTheLoginItemTellsTheLauncherAndShowsTheNoticeOnce) {
    // A launcher runs on the bus and listens, as the real one does, on a connection of its own.
    QDBusConnection launcherBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "launcher");
    ASSERT_TRUE(brisel::desktop::link::claimIdentifier(launcherBus, "com.Velko.BriselLaunchHelper",
                                                       brisel::desktop::link::NameHandover::keep));
    int killLauncherNotices = 0;
    const brisel::desktop::link::NoticeListener launcher(launcherBus, "killLauncher", "com.Velko.Brisel",
                                                         [&] { ++killLauncherNotices; });

    auto app = delegate(true);
    app->applicationWillFinishLaunching();
    ASSERT_NE(app->statusMenu(), nullptr);
    ASSERT_TRUE(waitUntil([&] {
        return app->statusMenu()->statusTitle() == kRunningTitle && !alerts.shown().empty() && serviceReady();
    }));
    ASSERT_TRUE(waitUntil([&] { return killLauncherNotices == 1; }));
    EXPECT_TRUE(brisel::desktop::link::isRunning(launcherBus, "com.Velko.Brisel"));

    const auto defaults = openUserDefaults();
    EXPECT_EQ(defaults->value(kLaunchAtStartKey), true);
    EXPECT_EQ(defaults->value(kHasPresentedInitialHelpWindowKey), true);
    EXPECT_TRUE(QFile::exists(entryPath()));
    EXPECT_TRUE(app->statusMenu()->openAtLogin());
    ASSERT_EQ(alerts.shown().size(), 1U);
    const Alert& notice = alerts.shown().front();
    EXPECT_EQ(notice.style, AlertStyle::informational);
    EXPECT_EQ(notice.message, "Velko Brisel Launched");
    EXPECT_EQ(
        notice.informativeText,
        "Velko Brisel is now running and will automatically launch at system start. Left-click on the \"V\" "
        "application icon in the menu bar for additional options.");
    EXPECT_EQ(notice.buttons, QStringList{"OK"});

    app->quit();
    EXPECT_EQ(exits, std::vector<int>{0});
    EXPECT_TRUE(serviceTerminated());

    // A later launch, and one where the user turned the login item off, are in the tray end-to-end test.
}

TEST_F(AppDelegateTest, LoginItemChangesOnlyWhenTheEntryIsReallyWritten) {
    ASSERT_TRUE(QDir().mkpath(QDir::homePath() + "/.config"));
    QFile blocker(QDir::homePath() + "/.config/autostart");  // a file where the folder belongs
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    auto app = delegate(true);
    app->applicationWillFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return !alerts.shown().empty(); }));
    const auto defaults = openUserDefaults();
    EXPECT_FALSE(userDefaultsHasKey(*defaults, kLaunchAtStartKey));  // tried again at the next launch
    QAction* openAtLogin = openAtLoginItem(*app);
    ASSERT_NE(openAtLogin, nullptr);
    EXPECT_FALSE(openAtLogin->isChecked());

    openAtLogin->trigger();
    EXPECT_FALSE(openAtLogin->isChecked());
    EXPECT_FALSE(userDefaultsHasKey(*defaults, kLaunchAtStartKey));

    ASSERT_TRUE(QFile::remove(blocker.fileName()));
    openAtLogin->trigger();
    EXPECT_TRUE(openAtLogin->isChecked());
    EXPECT_EQ(defaults->value(kLaunchAtStartKey), true);
    EXPECT_TRUE(QFile::exists(entryPath()));
    openAtLogin->trigger();
    EXPECT_FALSE(openAtLogin->isChecked());
    EXPECT_EQ(defaults->value(kLaunchAtStartKey), false);
    EXPECT_FALSE(QFile::exists(entryPath()));
    app->quit();
}

TEST_F(AppDelegateTest, WithoutATrayTheFailedToStartAlertComesAfterTheWaitAndTheApplicationQuits) {
    auto app = delegate(false);
    app->applicationWillFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return !exits.empty(); }));
    EXPECT_EQ(exits, std::vector<int>{EXIT_FAILURE});
    ASSERT_EQ(alerts.shown().size(), 1U);
    const Alert& alert = alerts.shown().front();
    EXPECT_EQ(alert.style, AlertStyle::warning);
    EXPECT_EQ(alert.message, "Velko Brisel failed to start");
    EXPECT_EQ(
        alert.informativeText,
        "Not enough menu bar space to create menu, please close some menu bar applications and try again");
    EXPECT_EQ(alert.buttons, QStringList{"OK"});
    EXPECT_EQ(app->supervisor().servicePid(), 0);
    EXPECT_FALSE(userDefaultsHasKey(*openUserDefaults(), kLaunchAtStartKey));
}

// Without a tray, or on a quit before one comes, the launcher hears "killLauncher" all the same.
TEST_F(AppDelegateTest, TheLauncherIsToldToQuitWhenTheApplicationEndsWithoutATray) {
    QDBusConnection launcherBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "launcher");
    ASSERT_TRUE(brisel::desktop::link::claimIdentifier(launcherBus, "com.Velko.BriselLaunchHelper",
                                                       brisel::desktop::link::NameHandover::keep));
    int killLauncherNotices = 0;
    const brisel::desktop::link::NoticeListener launcher(launcherBus, "killLauncher", "com.Velko.Brisel",
                                                         [&] { ++killLauncherNotices; });
    for (const bool quitAtOnce : {false, true}) {
        SCOPED_TRACE(quitAtOnce ? "quit before the tray" : "no tray");
        killLauncherNotices = 0;
        exits.clear();
        auto app = delegate(false);
        app->applicationWillFinishLaunching();
        if (quitAtOnce) {
            app->quit();
        }
        EXPECT_TRUE(waitUntil([&] { return !exits.empty() && killLauncherNotices == 1; }));
    }
}

TEST_F(AppDelegateTest, RelaunchStartsANewInstanceAndQuitsOrEndsWithTheError) {
    alerts.answerWith({kFirstButton, kFirstButton});  // the first-launch notice, then "Relaunch"
    auto app = delegate(true);
    app->applicationWillFinishLaunching();
    // The first-launch notice comes once the tray is up: it takes the first answer.
    ASSERT_TRUE(waitUntil([&] {
        return app->statusMenu()->statusTitle() == kRunningTitle && !alerts.shown().empty() && serviceReady();
    }));
    ASSERT_EQ(::kill(static_cast<pid_t>(app->supervisor().servicePid()), SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return !exits.empty(); }));
    EXPECT_EQ(relaunched, QStringList{"/opt/Velko Brisel/bin/Velko Brisel"});
    EXPECT_EQ(exits, std::vector<int>{0});
    EXPECT_EQ(alerts.shown().back().message, "Fatal Error");

    relaunchWorks = false;
    exits.clear();
    auto failing = delegate(true);
    failing->relaunch();
    EXPECT_EQ(exits, std::vector<int>{EXIT_FAILURE});
}

TEST(QuitOnSignals, TermIntAndHangUpTakeTheQuitPath) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        int quits = 0;
        const QuitOnSignals quitOnSignals([&quits] { ++quits; });
        ASSERT_EQ(::raise(signalNumber), 0);
        EXPECT_TRUE(waitUntil([&] { return quits == 1; })) << signalNumber;
    }
}

}  // namespace
