// The launch sequence and the quit path in process: a fake service program, scripted alerts, a private
// session bus (the test program runs under dbus-run-session) and Qt's offscreen platform, where the
// tray is whatever the test says.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QUrl>
#include <csignal>
#include <optional>

#include "desktop/app/app_delegate.h"
#include "desktop/app/quit_on_signals.h"
#include "desktop/app/user_defaults.h"
#include "desktop/link/notice_bus.h"
#include "desktop/link/session_bus_names.h"
#include "support/event_wait.h"
#include "support/listener_program.h"
#include "support/scripted_alerts.h"
#include "support/temporary_folder.h"

namespace {

using namespace brisel::desktop::app;
using namespace std::chrono_literals;
using brisel::desktop_test::ListenerProgram;
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

// The status lines that the menu logs ("Status: ..."), in order, while it lives.
class StatusLines {
  public:
    StatusLines() : previous(qInstallMessageHandler(&StatusLines::record)) { lines().clear(); }
    ~StatusLines() { qInstallMessageHandler(previous); }
    StatusLines(const StatusLines&) = delete;
    StatusLines& operator=(const StatusLines&) = delete;

    QStringList seen() const {
        const QMutexLocker locker(&mutex());
        return lines();
    }

  private:
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (message.startsWith("Status: ")) {
            const QMutexLocker locker(&mutex());
            lines() << message.mid(8);
        }
        qt_message_output(type, context, message);
    }
    static QStringList& lines() {
        static QStringList recorded;
        return recorded;
    }
    static QMutex& mutex() {
        static QMutex guard;
        return guard;
    }
    QtMessageHandler previous;
};

// Keeps the feed address and logs each check.
class LoggingUpdater : public Updater {
  public:
    void setFeedURL(const QUrl& address) override { feed = address; }
    std::optional<QUrl> feedURL() const override { return feed; }
    void checkForUpdates() override {
        qInfo().noquote() << "Check for updates asked (feed"
                          << (feed ? feed->toString() : QStringLiteral("none")) + ")";
    }

  private:
    std::optional<QUrl> feed;
};

// Hooks that log which window the menu asked for.
MenuHooks loggingMenuHooks() {
    const auto hook = [](QString window) {
        return [window = std::move(window)] {
            qInfo().noquote() << "The menu asks for the" << window;
        };
    };
    return {.preferences = hook(QStringLiteral("Preferences window")),
            .logs = hook(QStringLiteral("Logs window")),
            .about = hook(QStringLiteral("About panel"))};
}

class CountingCrashReporter : public CrashReporter {
  public:
    void start(const CrashReportingOptions&) override { ++starts; }
    void close() override {}
    int starts = 0;
};

QString userName() {
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::getuid());
}

class AppDelegateTest : public ::testing::Test {
  protected:
    AppDelegateTest() : mark(QString::fromStdString((folder.path() / "mark").string())) {
        qputenv("FAKE_SERVICE_MARK", mark.toUtf8());
        // Each case starts as a first run, also where the cases share one home (the whole program).
        openUserDefaults()->clear();
        QDir(QFileInfo(entryPath()).absolutePath()).removeRecursively();
    }

    // A delegate as main() makes one, with the fake service and the test's seams.
    std::unique_ptr<AppDelegate> delegate(bool trayAvailable,
                                          QDBusConnection bus = QDBusConnection::sessionBus(),
                                          QStringList arguments = {}) {
        return std::make_unique<AppDelegate>(
            AppEnvironment{
                .arguments = std::move(arguments),
                .branch = "master",
                .release = "0.1.0",
                .serviceProgram = serviceProgram,
                .launcherProgram = "/opt/Velko Brisel/libexec/brisel/BriselLaunchHelper",
                .ownProgram = "/opt/Velko Brisel/bin/Velko Brisel",
                .bus = bus,
                .servicePort = servicePort ? *servicePort : freePort(),
                .trayHostBound = 100ms,
                .diagnosticsDelay = 50ms,
                .terminationBound = 10s,
                .quittingInstanceBound = quittingInstanceBound,
                .startDetached =
                    [this, bus](const QString& program, QString& error) {
                        relaunched << program;
                        // The successor finds the name free and the old service gone.
                        handedOver =
                            !brisel::desktop::link::isRunning(bus, "com.Velko.Brisel") && serviceTerminated();
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
    QString serviceProgram = BRISEL_SOURCE_DIR "/tests/desktop/app/fake_service.py";
    std::optional<std::uint16_t> servicePort;  // a free one unless set
    std::chrono::milliseconds quittingInstanceBound = 30s;
    ScriptedAlerts alerts;
    LoggingUpdater updater;
    CountingCrashReporter crashReporter;
    std::vector<int> exits;
    QStringList relaunched;
    bool relaunchWorks = true;
    bool handedOver = false;
};

TEST_F(AppDelegateTest, FirstRunRegistersTheLoginItemTellsTheLauncherAndShowsTheNoticeOnce) {
    // A launcher runs on the bus and listens, as the real one does, on a connection of its own.
    QDBusConnection launcherBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "launcher");
    ASSERT_EQ(brisel::desktop::link::claimIdentifier(launcherBus, "com.Velko.BriselLaunchHelper"),
              brisel::desktop::link::NameClaim::owned);
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
    // The notice says that the login item was not registered, and why, instead of claiming it.
    const Alert& notice = alerts.shown().front();
    EXPECT_EQ(notice.message, "Velko Brisel Launched");
    EXPECT_FALSE(notice.informativeText.contains("will automatically launch"))
        << notice.informativeText.toStdString();
    EXPECT_TRUE(
        notice.informativeText.startsWith("Velko Brisel is now running. Its login item could not be "
                                          "registered, so it will not launch automatically "
                                          "at system start: cannot create the folder of " +
                                          entryPath() + ": "))
        << notice.informativeText.toStdString();
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

// A start while the running instance quits (it keeps its name until its service has ended) waits for
// it and then starts; when the quitting instance outlives the wait, the start ends with status 1.
TEST_F(AppDelegateTest, AStartWhileTheRunningInstanceQuitsWaitsForItToEnd) {
    openUserDefaults()->setValue(kHasPresentedInitialHelpWindowKey, true);  // no first-launch notice
    for (const bool quitsInTime : {true, false}) {
        SCOPED_TRACE(quitsInTime ? "quits in time" : "outlives the wait");
        exits.clear();
        QDBusConnection quitting = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "quitting");
        for (const char* name : {"com.Velko.Brisel", "com.Velko.Brisel.Quitting"}) {
            ASSERT_EQ(brisel::desktop::link::claimIdentifier(quitting, name),
                      brisel::desktop::link::NameClaim::owned);
        }
        quittingInstanceBound = quitsInTime ? 30s : 100ms;
        auto app = delegate(true);
        app->applicationWillFinishLaunching();
        EXPECT_TRUE(exits.empty());
        EXPECT_EQ(app->statusMenu(), nullptr);
        if (quitsInTime) {
            brisel::desktop::link::releaseIdentifier(quitting, "com.Velko.Brisel");
            ASSERT_TRUE(waitUntil([&] {
                return app->statusMenu() != nullptr && app->statusMenu()->statusTitle() == kRunningTitle &&
                       serviceReady();
            }));
            EXPECT_TRUE(exits.empty());
            EXPECT_EQ(crashReporter.starts, 1);
            app->quit();
        } else {
            ASSERT_TRUE(waitUntil([&] { return !exits.empty(); }));
            EXPECT_EQ(exits, std::vector<int>{EXIT_FAILURE});
            EXPECT_EQ(app->statusMenu(), nullptr);
            EXPECT_EQ(app->supervisor().servicePid(), 0);
        }
        EXPECT_EQ(exits, std::vector<int>{quitsInTime ? 0 : EXIT_FAILURE});
        brisel::desktop::link::releaseIdentifier(quitting, "com.Velko.Brisel");
        brisel::desktop::link::releaseIdentifier(quitting, "com.Velko.Brisel.Quitting");
    }
    QDBusConnection::disconnectFromBus("quitting");
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
    ASSERT_EQ(brisel::desktop::link::claimIdentifier(launcherBus, "com.Velko.BriselLaunchHelper"),
              brisel::desktop::link::NameClaim::owned);
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
    // A pid of 0 would signal this whole process group (ctest and the cases beside this one).
    const auto service = static_cast<pid_t>(app->supervisor().servicePid());
    ASSERT_GT(service, 0);
    ASSERT_EQ(::kill(service, SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return !exits.empty(); }));
    EXPECT_EQ(relaunched, QStringList{"/opt/Velko Brisel/bin/Velko Brisel"});
    EXPECT_TRUE(handedOver);
    EXPECT_EQ(exits, std::vector<int>{0});
    EXPECT_EQ(alerts.shown().back().message, "Fatal Error");

    relaunchWorks = false;
    exits.clear();
    auto failing = delegate(true);
    failing->relaunch();
    EXPECT_EQ(exits, std::vector<int>{EXIT_FAILURE});
}

// A second start, as a double click on the menu entry, finds the first instance by its name and ends at
// once: the first keeps its service, its name and its crash session; "--feed-url" leaves them be too.
TEST_F(AppDelegateTest, ASecondStartEndsAtOnceAndLeavesTheFirstInstanceBe) {
    openUserDefaults()->setValue(kHasPresentedInitialHelpWindowKey, true);  // no first-launch notice
    auto first = delegate(true);
    first->applicationWillFinishLaunching();
    ASSERT_TRUE(
        waitUntil([&] { return first->statusMenu()->statusTitle() == kRunningTitle && serviceReady(); }));
    const qint64 service = first->supervisor().servicePid();
    ASSERT_EQ(crashReporter.starts, 1);

    QDBusConnection secondBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "second");
    for (const QStringList& arguments : {QStringList{}, QStringList{"--feed-url"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        exits.clear();
        auto second = delegate(true, secondBus, arguments);
        second->applicationWillFinishLaunching();
        EXPECT_EQ(exits, std::vector<int>{0});
        EXPECT_EQ(second->statusMenu(), nullptr);
        EXPECT_EQ(second->supervisor().servicePid(), 0);
    }
    EXPECT_EQ(crashReporter.starts, 1);
    EXPECT_EQ(first->supervisor().servicePid(), service);
    EXPECT_FALSE(serviceTerminated());
    EXPECT_EQ(secondBus.interface()->serviceOwner("com.Velko.Brisel").value(),
              QDBusConnection::sessionBus().baseService());
    EXPECT_EQ(first->statusMenu()->statusTitle(), kRunningTitle);
    EXPECT_TRUE(alerts.shown().empty());
    QDBusConnection::disconnectFromBus("second");

    first->quit();
    EXPECT_FALSE(brisel::desktop::link::isRunning(QDBusConnection::sessionBus(), "com.Velko.Brisel"));
}

// What the status line and the "Fatal Error" alert tell when the service does not run; "Ignore" quits.
TEST_F(AppDelegateTest, TheStatusLineAndTheAlertSayWhyTheServiceDoesNotRun) {
    const QString diagnostics = kCollectingDiagnosticsTitle;
    const QString notRunning = kNotRunningTitle;
    struct Case {
        const char* name;
        const char* holder;        // a program on the service's port, or null
        const char* holderParent;  // that program's parent, or null
    };
    for (const Case& row : {Case{"killed", nullptr, nullptr}, Case{"missing", nullptr, nullptr},
                            Case{"another program on the port", "other_server", nullptr},
                            Case{"another application's service", "brisel_core", "Velko Brisel"}}) {
        SCOPED_TRACE(row.name);
        exits.clear();
        QFile::remove(mark + ".ready");
        const StatusLines status;
        std::optional<ListenerProgram> holder;
        if (row.holder != nullptr) {
            holder.emplace(folder.path(), row.holder, 0, row.holderParent ? row.holderParent : "");
            servicePort = static_cast<std::uint16_t>(holder->boundPort);
        }
        const bool missing = std::string_view(row.name) == "missing";
        serviceProgram = missing ? QString::fromStdString((folder.path() / "brisel_core").string())
                                 : BRISEL_SOURCE_DIR "/tests/desktop/app/fake_service.py";
        openUserDefaults()->setValue(kHasPresentedInitialHelpWindowKey, true);  // no first-launch notice
        alerts.answerWith({kFirstButton + 1});                                  // "Ignore"
        auto app = delegate(true);
        app->applicationWillFinishLaunching();
        if (std::string_view(row.name) == "killed") {
            ASSERT_TRUE(waitUntil([&] { return serviceReady(); }));
            const auto service = static_cast<pid_t>(app->supervisor().servicePid());
            ASSERT_GT(service, 0);  // 0 would signal this whole process group
            ASSERT_EQ(::kill(service, SIGKILL), 0);
        }
        ASSERT_TRUE(waitUntil([&] { return !exits.empty(); }));
        EXPECT_EQ(exits, std::vector<int>{0});
        const Alert& alert = alerts.shown().back();
        EXPECT_EQ(alert.style, AlertStyle::critical);
        EXPECT_EQ(alert.message, "Fatal Error");
        EXPECT_EQ(alert.buttons, (QStringList{"Relaunch", "Ignore"}));
        if (holder) {
            QString holderText = QStringLiteral("%1 (process %2) of user %3")
                                     .arg(row.holder, QString::number(holder->listenerPid), userName());
            if (row.holderParent != nullptr) {
                holderText += QStringLiteral(", the service of another Velko Brisel (process %1)")
                                  .arg(holder->process.processId());
            }
            const QString portText =
                QStringLiteral("port %1 is in use by %2").arg(holder->boundPort).arg(holderText);
            EXPECT_EQ(status.seen(), (QStringList{kStartingTitle, notRunning + ": " + portText}));
            EXPECT_EQ(alert.informativeText, "Brisel Server could not start: " + portText +
                                                 ". Quit that program, then choose Relaunch.");
            EXPECT_FALSE(serviceReady());  // never started beside the holder
            EXPECT_EQ(holder->process.state(), QProcess::Running);
        } else if (missing) {
            EXPECT_EQ(status.seen(), (QStringList{kStartingTitle, diagnostics, notRunning}));
            EXPECT_TRUE(alert.informativeText.startsWith("Velko Brisel quit unexpectedly. "));
            EXPECT_GT(alert.informativeText.size(), QString("Velko Brisel quit unexpectedly. ").size())
                << "the start error is missing";
        } else {
            EXPECT_EQ(status.seen(), (QStringList{kStartingTitle, kRunningTitle, diagnostics, notRunning}));
            EXPECT_EQ(alert.informativeText, "Velko Brisel quit unexpectedly. ");
        }
        servicePort.reset();
    }
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
