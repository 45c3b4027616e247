#include "desktop/app/app_delegate.h"

#include <QDebug>
#include <QTimer>
#include <cstdio>
#include <utility>

#include "common/desktop_link.h"
#include "desktop/app/branch_rules.h"
#include "desktop/app/port_holders.h"
#include "desktop/app/quitting_instance_wait.h"
#include "desktop/app/stale_service_cleanup.h"
#include "desktop/app/user_defaults.h"
#include "desktop/link/link_text.h"
#include "desktop/link/notice_bus.h"
#include "desktop/link/session_bus_names.h"

namespace brisel::desktop::app {

namespace {

QString applicationIdentifier() {
    return link::qtText(desktop_link::kApplicationIdentifier);
}

}  // namespace

AppDelegate::AppDelegate(AppEnvironment appEnvironment, AppParts appParts)
    : environment(std::move(appEnvironment)),
      parts(std::move(appParts)),
      userDefaults(openUserDefaults()),
      loginItem(environment.launcherProgram),
      briselServerTask(
          {.serviceProgram = environment.serviceProgram, .terminationBound = environment.terminationBound}) {
    connect(&briselServerTask, &ServiceSupervisor::started, this,
            [this] { setStatusTitle(QString::fromUtf8(kRunningTitle)); });
    connect(&briselServerTask, &ServiceSupervisor::ended, this, &AppDelegate::serverStopped);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationWillFinishLaunching() {
    // The branch selects the feed and the crash-reporting environment.
    const QString& branch = environment.branch;
    parts.updater.setFeedURL(feedAddress(branch));

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

    claimApplicationName();
}

void AppDelegate::claimApplicationName() {
    // One instance per session: the launcher and a later start find the running one by its name, and a
    // later start ends here, leaving the running instance, its service and its crash session be. An
    // instance that is quitting keeps the name until its service has ended: a start then waits for it.
    const link::NameClaim claim = link::claimIdentifier(environment.bus, applicationIdentifier());
    if (claim == link::NameClaim::heldByAnother) {
        const auto owner = link::ownerProcess(environment.bus, applicationIdentifier());
        const QString process = owner ? QStringLiteral(" (process %1)").arg(*owner) : QString();
        const link::NameOwner holder =
            link::nameOwner(environment.bus, applicationIdentifier(),
                            link::qtText(desktop_link::kQuittingApplicationIdentifier));
        if (holder == link::NameOwner::running) {
            qInfo().noquote() << QStringLiteral("Velko Brisel already runs in this session%1").arg(process)
                              << "- use its icon in the tray; this start ends";
            endQuittingInstanceWait();
            quit();
            return;
        }
        if (!quittingInstanceWait) {
            qInfo().noquote() << QStringLiteral("Velko Brisel%1").arg(process)
                              << "is quitting in this session; this start waits for it to end";
            quittingInstanceWait = std::make_unique<QuittingInstanceWait>(
                environment.bus, applicationIdentifier(), environment.quittingInstanceBound,
                [this] { claimApplicationName(); },
                [this, process] {
                    const auto seconds =
                        static_cast<double>(environment.quittingInstanceBound.count()) / 1000.0;
                    qWarning().noquote()
                        << QStringLiteral("Velko Brisel%1 did not end within %2 s;").arg(process).arg(seconds)
                        << "this start ends - start Velko Brisel again once it is gone";
                    quit(EXIT_FAILURE);
                });
        }
        return;
    }
    endQuittingInstanceWait();
    ownsName = claim == link::NameClaim::owned;
    continueLaunch();
}

void AppDelegate::endQuittingInstanceWait() {
    if (quittingInstanceWait) {
        quittingInstanceWait->stop();
    }
}

void AppDelegate::continueLaunch() {
    const QString& branch = environment.branch;
    CrashReportingOptions options;
    configureCrashReporting(options, branch, environment.release);
    parts.crashReporter.start(options);

    // A service whose application is gone, still on the port, gets SIGTERM, and the port is waited
    // free, before ours starts.
    const bool portFree = stopStaleService(environment.servicePort, environment.cleanupBound).portFree;

    // The service starts once the launch sequence has returned to the main loop.
    QTimer::singleShot(0, this, [this, portFree] { startServer(portFree); });

    // The menu (its status line starts as "Brisel starting..."), then the status item
    // once a tray is there.
    statusMenuPointer = std::make_unique<StatusMenu>(std::move(parts.menuHooks));
    connect(statusMenuPointer.get(), &StatusMenu::checkForUpdatesChosen, this,
            [this] { parts.updater.checkForUpdates(); });
    connect(statusMenuPointer.get(), &StatusMenu::openAtLoginChosen, this, &AppDelegate::toggleOpenAtLogin);
    connect(statusMenuPointer.get(), &StatusMenu::aboutToShow, this, &AppDelegate::showOpenAtLogin);
    connect(statusMenuPointer.get(), &StatusMenu::quitChosen, this, [this] { quit(); });
    trayHostWait =
        std::make_unique<TrayHostWait>(environment.bus, environment.trayHostBound, environment.trayAvailable,
                                       [this](bool available) { continueWithTray(available); });
}

void AppDelegate::startServer(bool portFree) {
    if (quitting) {
        return;  // a quit came before the launch sequence returned to the main loop
    }
    // Another program on the port (another user's service, another application's, anything else) makes
    // our service fail; starting it anyway would also replace the log of a service that runs.
    if (portFree || !portInUse(environment.servicePort)) {
        briselServerTask.startServer();
    } else {
        serverStopped(std::nullopt);
    }
}

void AppDelegate::serverStopped(const std::optional<QString>& startError) {
    if (quitting) {
        return;
    }
    const QString holders = describePortHolders(portHolders(environment.servicePort));
    const QString portInUseText =
        QStringLiteral("port %1 is in use by %2").arg(QString::number(environment.servicePort), holders);
    if (holders.isEmpty()) {
        setStatusTitle(QString::fromUtf8(kCollectingDiagnosticsTitle));
    } else {
        qWarning().noquote() << "The service cannot listen:" << portInUseText
                             << "- quit that program, then choose Relaunch";
        setStatusTitle(QString::fromUtf8(kNotRunningTitle) + QStringLiteral(": ") + portInUseText);
    }
    QTimer::singleShot(environment.diagnosticsDelay, this, [this, startError, holders, portInUseText] {
        if (quitting) {
            return;
        }
        Alert alert{.style = AlertStyle::critical,
                    .message = QStringLiteral("Fatal Error"),
                    .informativeText = {},
                    .buttons = {QStringLiteral("Relaunch"), QStringLiteral("Ignore")}};
        if (holders.isEmpty()) {
            setStatusTitle(QString::fromUtf8(kNotRunningTitle));
            alert.informativeText =
                QStringLiteral("Velko Brisel quit unexpectedly. ") + startError.value_or(QString());
        } else {
            alert.informativeText = QStringLiteral("Brisel Server could not start: ") + portInUseText +
                                    QStringLiteral(". Quit that program, then choose Relaunch.");
        }
        parts.alerts.show(alert, [this](int button) {
            if (button == kFirstButton + 1) {
                quit();  // "Ignore"
            } else {
                relaunch();
            }
        });
    });
}

void AppDelegate::setStatusTitle(const QString& title) {
    if (statusMenuPointer) {
        statusMenuPointer->setStatusTitle(title);
    }
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

    // Settings that cannot be written cannot remember a first run: every start would be one, so the
    // launcher is not registered by itself and the first-launch notice is not shown until they can.
    const std::optional<QString> settingsProblem = userDefaultsWriteProblem(*userDefaults);
    if (settingsProblem) {
        qWarning().noquote()
            << "Cannot save the settings:" << *settingsProblem
            << "- until that folder is writable, Velko Brisel neither registers its login item "
               "by itself nor shows its first-launch notice";
    }

    // On the first run the launcher becomes the login item. Later, an entry that starts another
    // installation's launcher follows this one; an entry the user removed or disabled stays so.
    std::optional<QString> loginItemProblem;
    const QString launchAtStart = QString::fromUtf8(kLaunchAtStartKey);
    if (!settingsProblem && !userDefaultsHasKey(*userDefaults, launchAtStart)) {
        if (auto registered = loginItem.setEnabled(true)) {
            userDefaults->setValue(launchAtStart, true);
        } else {
            loginItemProblem = registered.error();
            qWarning().noquote() << "Cannot register the login item:" << registered.error()
                                 << "- choose Open at Login in the menu once that folder is writable";
        }
    } else if (loginItem.state() == LoginItemState::otherLauncher) {
        if (auto rewritten = loginItem.setEnabled(true)) {
            qInfo().noquote() << "The login item now starts" << environment.launcherProgram;
        } else {
            qWarning().noquote() << "Cannot point the login item at this installation:" << rewritten.error();
        }
    }
    showOpenAtLogin();

    // The first-launch notice, once, after the launch sequence. It tells what became of the login item.
    const QString presented = QString::fromUtf8(kHasPresentedInitialHelpWindowKey);
    if (!settingsProblem && !userDefaultsHasKey(*userDefaults, presented)) {
        userDefaults->setValue(presented, true);
        userDefaults->sync();
        QString informativeText = QStringLiteral("Velko Brisel is now running");
        if (loginItemProblem) {
            informativeText += QStringLiteral(
                                   ". Its login item could not be registered, so it will not launch "
                                   "automatically at system start: ") +
                               *loginItemProblem + u'.';
        } else if (statusMenuPointer->openAtLogin()) {
            informativeText += QStringLiteral(" and will automatically launch at system start.");
        } else {
            informativeText += u'.';
        }
        informativeText += QStringLiteral(
            " Left-click on the \"V\" application icon in the menu bar for additional options.");
        QTimer::singleShot(0, this, [this, informativeText] {
            parts.alerts.show({.style = AlertStyle::informational,
                               .message = QStringLiteral("Velko Brisel Launched"),
                               .informativeText = informativeText,
                               .buttons = {QStringLiteral("OK")}},
                              [](int) {});
        });
    }
    userDefaults->sync();
}

void AppDelegate::showOpenAtLogin() {
    const LoginItemState state = loginItem.state();
    const bool effective = state == LoginItemState::thisLauncher || state == LoginItemState::otherLauncher;
    const QString launchAtStart = QString::fromUtf8(kLaunchAtStartKey);
    // A missing key stays missing: the next launch is a first run again.
    if (userDefaultsHasKey(*userDefaults, launchAtStart) &&
        userDefaults->value(launchAtStart).toBool() != effective) {
        userDefaults->setValue(launchAtStart, effective);
        userDefaults->sync();
    }
    statusMenuPointer->setOpenAtLogin(effective);
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
                         applicationIdentifier());
    }
}

void AppDelegate::endInstance() {
    if (std::exchange(instanceEnded, true)) {
        return;
    }
    if (launcherMayWait) {
        tellLauncherToQuit();  // a quit before the tray came up
    }
    endQuittingInstanceWait();
    trayHostWait.reset();
    // The name goes only once the service is gone: a new instance that gets the name finds the port
    // free. Until then a start that finds the name sees that this instance is quitting, and waits.
    const QString quittingIdentifier = link::qtText(desktop_link::kQuittingApplicationIdentifier);
    const bool markedQuitting =
        ownsName && link::claimIdentifier(environment.bus, quittingIdentifier) == link::NameClaim::owned;
    briselServerTask.stop();
    if (std::exchange(ownsName, false)) {
        link::releaseIdentifier(environment.bus, applicationIdentifier());
    }
    if (markedQuitting) {
        link::releaseIdentifier(environment.bus, quittingIdentifier);
    }
    parts.crashReporter.close();
    userDefaults->sync();
}

void AppDelegate::quit(int status) {
    if (std::exchange(quitting, true)) {
        return;
    }
    endInstance();
    environment.exit(status);
}

void AppDelegate::relaunch() {
    if (quitting) {
        return;
    }
    endInstance();
    QString error;
    if (!environment.startDetached(environment.ownProgram, error)) {
        std::fprintf(stderr, "Failed to restart due to error %s\n", error.toUtf8().constData());
        quit(EXIT_FAILURE);
        return;
    }
    qInfo().noquote() << "Relaunched" << environment.ownProgram;
    quit();
}

}  // namespace brisel::desktop::app
