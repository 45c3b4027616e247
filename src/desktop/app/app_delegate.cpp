#include "desktop/app/app_delegate.h"

#include <QDebug>
#include <QTimer>
#include <cstdio>
#include <utility>

#include "common/desktop_link.h"
#include "desktop/app/branch_rules.h"
#include "desktop/app/stale_service_cleanup.h"
#include "desktop/app/user_defaults.h"
#include "desktop/link/link_text.h"
#include "desktop/link/notice_bus.h"
#include "desktop/link/session_bus_names.h"

namespace brisel::desktop::app {

AppDelegate::AppDelegate(AppEnvironment appEnvironment, AppParts appParts)
    : environment(std::move(appEnvironment)),
      parts(std::move(appParts)),
      userDefaults(openUserDefaults()),
      loginItem(environment.launcherProgram),
      briselServerTask({.serviceProgram = environment.serviceProgram,
                        .diagnosticsDelay = environment.diagnosticsDelay,
                        .terminationBound = environment.terminationBound},
                       parts.alerts) {
    connect(&briselServerTask, &ServiceSupervisor::ignoreChosen, this, [this] { quit(); });
    connect(&briselServerTask, &ServiceSupervisor::relaunchChosen, this, &AppDelegate::relaunch);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationWillFinishLaunching() {
    // The branch selects the feed and the crash-reporting environment.
    const QString& branch = environment.branch;
    parts.updater.setFeedURL(feedAddress(branch));
    CrashReportingOptions options;
    configureCrashReporting(options, branch, environment.release);
    parts.crashReporter.start(options);

    // "--feed-url" prints the feed and quits before anything else happens.
    if (environment.arguments.contains(QStringLiteral("--feed-url"))) {
        const auto feed = parts.updater.feedURL();
        const QString line =
            QStringLiteral("Feed URL: ") +
            (feed && !feed->isEmpty() ? feed->toString() : QStringLiteral("NO FEED URL FOUND"));
        std::puts(line.toUtf8().constData());
        std::fflush(stdout);
        quit();
        return;
    }
    launcherMayWait = true;

    // The application runs from here on: the launcher and a later instance find it by its name.
    link::claimIdentifier(environment.bus, link::qtText(desktop_link::kApplicationIdentifier),
                          link::NameHandover::allowReplacement);

    // A service of an earlier instance still on the port gets SIGTERM, and the port is waited
    // free, before ours starts.
    stopStaleService(environment.servicePort, environment.cleanupBound);

    // The service starts once the launch sequence has returned to the main loop.
    QTimer::singleShot(0, &briselServerTask, [this] { briselServerTask.startServer(); });

    // The menu (its status line starts as "Brisel starting..."), then the status item
    // once a tray is there.
    statusMenuPointer = std::make_unique<StatusMenu>(std::move(parts.menuHooks));
    connect(&briselServerTask, &ServiceSupervisor::statusTitleChanged, statusMenuPointer.get(),
            &StatusMenu::setStatusTitle);
    connect(statusMenuPointer.get(), &StatusMenu::checkForUpdatesChosen, this,
            [this] { parts.updater.checkForUpdates(); });
    connect(statusMenuPointer.get(), &StatusMenu::openAtLoginChosen, this, &AppDelegate::toggleOpenAtLogin);
    connect(statusMenuPointer.get(), &StatusMenu::quitChosen, this, [this] { quit(); });
    trayHostWait =
        std::make_unique<TrayHostWait>(environment.bus, environment.trayHostBound, environment.trayAvailable,
                                       [this](bool available) { continueWithTray(available); });
}

void AppDelegate::continueWithTray(bool available) {
    if (quitting) {
        return;
    }
    if (!available) {
        tellLauncherToQuit();  // the alert below waits for the user
        qWarning().noquote() << "No system tray appeared";
        parts.alerts.show({.style = AlertStyle::warning,
                           .message = QStringLiteral("Velko Brisel failed to start"),
                           .informativeText = QStringLiteral(
                               "Not enough menu bar space to create menu, please close some menu bar "
                               "applications and try again"),
                           .buttons = {QStringLiteral("OK")}},
                          [this](int) { quit(EXIT_FAILURE); });
        return;
    }
    statusMenuPointer->show();

    tellLauncherToQuit();

    // On the first run the launcher becomes the login item.
    const QString launchAtStart = QString::fromUtf8(kLaunchAtStartKey);
    if (!userDefaultsHasKey(*userDefaults, launchAtStart)) {
        if (auto registered = loginItem.setEnabled(true)) {
            userDefaults->setValue(launchAtStart, true);
        } else {
            qWarning().noquote() << "Cannot register the login item:" << registered.error();
        }
    }
    statusMenuPointer->setOpenAtLogin(userDefaults->value(launchAtStart, false).toBool());

    // The first-launch notice, once, after the launch sequence.
    const QString presented = QString::fromUtf8(kHasPresentedInitialHelpWindowKey);
    if (!userDefaultsHasKey(*userDefaults, presented)) {
        userDefaults->setValue(presented, true);
        userDefaults->sync();
        QTimer::singleShot(0, this, [this] {
            parts.alerts.show(
                {.style = AlertStyle::informational,
                 .message = QStringLiteral("Velko Brisel Launched"),
                 .informativeText = QStringLiteral(
                     "Velko Brisel is now running and will automatically launch at system start. "
                     "Left-click on the \"V\" application icon in the menu bar for additional "
                     "options."),
                 .buttons = {QStringLiteral("OK")}},
                [](int) {});
        });
    }
    userDefaults->sync();
}

void AppDelegate::toggleOpenAtLogin(bool setting) {
    if (auto changed = loginItem.setEnabled(setting); !changed) {
        qWarning().noquote() << "Cannot change the login item:" << changed.error();
        return;
    }
    userDefaults->setValue(QString::fromUtf8(kLaunchAtStartKey), setting);
    userDefaults->sync();
    statusMenuPointer->setOpenAtLogin(setting);
}

// A launcher that started us quits on "killLauncher".
void AppDelegate::tellLauncherToQuit() {
    if (std::exchange(launcherTold, true)) {
        return;
    }
    if (link::isRunning(environment.bus, link::qtText(desktop_link::kLauncherIdentifier))) {
        link::postNotice(environment.bus, link::qtText(desktop_link::kKillLauncherNotice),
                         link::qtText(desktop_link::kApplicationIdentifier));
    }
}

void AppDelegate::quit(int status) {
    if (std::exchange(quitting, true)) {
        return;
    }
    if (launcherMayWait) {
        tellLauncherToQuit();  // a quit before the tray came up
    }
    trayHostWait.reset();
    briselServerTask.stop();
    parts.crashReporter.close();
    userDefaults->sync();
    environment.exit(status);
}

void AppDelegate::relaunch() {
    QString error;
    if (!environment.startDetached(environment.ownProgram, error)) {
        std::fprintf(stderr, "Failed to restart due to error %s\n", error.toUtf8().constData());
        quit(EXIT_FAILURE);
        return;
    }
    quit();
}

}  // namespace brisel::desktop::app
