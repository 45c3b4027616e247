// The login-item launcher's three cases on a private session bus (the test program runs under
// dbus-run-session). The real program starting the real application is part of the tray end-to-end test.
#include <gtest/gtest.h>

#include <QDBusConnection>

#include "desktop/launcher/app_delegate.h"
#include "desktop/launcher/application_location.h"
#include "desktop/link/notice_bus.h"
#include "desktop/link/session_bus_names.h"
#include "support/event_wait.h"

namespace {

using namespace brisel::desktop;
using brisel::desktop_test::waitUntil;

class LauncherTest : public ::testing::Test {
  protected:
    launcher::LauncherEnvironment environment(const QString& ownProgram) {
        return {.bus = QDBusConnection::sessionBus(),
                .ownProgram = ownProgram,
                .launch =
                    [this](const QString& program) {
                        launched << program;
                        return launchWorks;
                    },
                .quit =
                    [this] {
                        ++quits;
                    }};
    }

    QStringList launched;
    bool launchWorks = true;
    int quits = 0;
};

TEST_F(LauncherTest, AlreadyRunningApplicationMeansQuitAtOnceAndLaunchNothing) {
    QDBusConnection application = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "application");
    ASSERT_EQ(link::claimIdentifier(application, "com.Velko.Brisel"), link::NameClaim::owned);
    launcher::AppDelegate delegate(environment("/opt/Velko Brisel/libexec/brisel/BriselLaunchHelper"));
    delegate.launchMainApplication();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(launched.isEmpty());
    QDBusConnection::disconnectFromBus("application");
}

TEST_F(LauncherTest, LaunchesOneApplicationAndQuitsOnlyOnKillLauncherFromIt) {
    launcher::AppDelegate delegate(environment("/opt/Velko Brisel/libexec/brisel/BriselLaunchHelper"));
    delegate.launchMainApplication();
    EXPECT_EQ(launched, QStringList{"/opt/Velko Brisel/bin/Velko Brisel"});
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(link::isRunning(QDBusConnection::sessionBus(), "com.Velko.BriselLaunchHelper"));

    // A notice with another object reaches the bus (this probe hears it) and leaves the launcher be.
    QDBusConnection poster = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "poster");
    int otherNotices = 0;
    const link::NoticeListener probe(QDBusConnection::sessionBus(), "killLauncher", "com.Velko.Other",
                                     [&] { ++otherNotices; });
    ASSERT_TRUE(link::postNotice(poster, "killLauncher", "com.Velko.Other"));
    ASSERT_TRUE(waitUntil([&] { return otherNotices == 1; }));
    EXPECT_EQ(quits, 0);

    ASSERT_TRUE(link::postNotice(poster, "killLauncher", "com.Velko.Brisel"));
    ASSERT_TRUE(waitUntil([&] { return quits == 1; }));
    EXPECT_EQ(launched.size(), 1);
    QDBusConnection::disconnectFromBus("poster");
}

// Nothing would tell a launcher whose launch failed to quit.
TEST_F(LauncherTest, AFailedLaunchQuitsTheLauncher) {
    launchWorks = false;
    launcher::AppDelegate delegate(environment("/opt/Velko Brisel/libexec/brisel/BriselLaunchHelper"));
    delegate.launchMainApplication();
    EXPECT_EQ(launched, QStringList{"/opt/Velko Brisel/bin/Velko Brisel"});
    EXPECT_EQ(quits, 1);
}

TEST_F(LauncherTest, ApplicationIsFoundFromTheLauncherPath) {
    EXPECT_EQ(launcher::applicationProgramFor("/usr/libexec/brisel/BriselLaunchHelper"),
              "/usr/bin/Velko Brisel");
    EXPECT_EQ(launcher::applicationProgramFor("/libexec/brisel/BriselLaunchHelper"), std::nullopt);
    EXPECT_EQ(launcher::applicationProgramFor("relative/libexec/brisel/BriselLaunchHelper"), std::nullopt);
    launcher::AppDelegate delegate(environment("/brisel/BriselLaunchHelper"));
    delegate.launchMainApplication();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(launched.isEmpty());
}

}  // namespace
