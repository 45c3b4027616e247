// Entry point of `Velko Brisel`, the tray application: it starts and supervises the service
// brisel_core from its own folder and shows the service's state in the tray. With "--feed-url" it
// only prints the update feed (no display needed).
//
// The update checker, the crash reporter and the windows of src/desktop/components are wired in
// here: replace LoggingUpdater, LoggingCrashReporter and loggingMenuHooks() by them.
#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

#include "common/desktop_link.h"
#include "desktop/app/alerts.h"
#include "desktop/app/app_delegate.h"
#include "desktop/app/branch_rules.h"
#include "desktop/app/crash_reporter.h"
#include "desktop/app/login_item.h"
#include "desktop/app/quit_on_signals.h"
#include "desktop/app/status_menu.h"
#include "desktop/app/updater.h"
#include "desktop/link/link_text.h"

namespace app = brisel::desktop::app;

int main(int argc, char* argv[]) {
    qSetMessagePattern(QStringLiteral("[%{time yyyy-MM-ddThh:mm:ss.zzz}] %{type}: %{message}"));
    bool feedUrlOnly = false;
    for (int index = 1; index < argc; ++index) {
        feedUrlOnly = feedUrlOnly || QByteArray(argv[index]) == "--feed-url";
    }
    // "--feed-url" needs no display, so it gets no widgets.
    const std::unique_ptr<QCoreApplication> application = feedUrlOnly
                                                              ? std::make_unique<QCoreApplication>(argc, argv)
                                                              : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(
        brisel::desktop::link::qtText(brisel::desktop_link::kApplicationProgram));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRISEL_VERSION));
    if (!feedUrlOnly) {
        QApplication::setQuitOnLastWindowClosed(false);
    }

    app::MessageBoxAlerts alerts;
    app::LoggingUpdater updater;
    app::LoggingCrashReporter crashReporter;
    const QString folder = QCoreApplication::applicationDirPath();
    app::AppDelegate delegate(
        {
            .arguments = QCoreApplication::arguments(),
            .branch = app::branch(),
            .release = QCoreApplication::applicationVersion(),
            .serviceProgram =
                folder + u'/' + brisel::desktop::link::qtText(brisel::desktop_link::kServiceProgram),
            .launcherProgram = app::LoginItem::launcherProgramFor(folder),
            .ownProgram = QCoreApplication::applicationFilePath(),
            .bus = QDBusConnection::sessionBus(),
            .servicePort = brisel::desktop_link::kServicePort,
            .startDetached =
                [](const QString& program, QString& error) {
                    QProcess process;
                    process.setProgram(program);
                    const bool started = process.startDetached();
                    error = process.errorString();
                    return started;
                },
            .trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); },
            .exit = [](int status) { QCoreApplication::exit(status); },
        },
        {.alerts = alerts,
         .updater = updater,
         .crashReporter = crashReporter,
         .menuHooks = app::loggingMenuHooks()});
    const app::QuitOnSignals quitOnSignals([&delegate] { delegate.quit(); });
    QTimer::singleShot(0, application.get(), [&delegate] { delegate.applicationWillFinishLaunching(); });
    return QCoreApplication::exec();
}
