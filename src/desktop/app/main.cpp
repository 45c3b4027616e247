// Entry point of `Velko Brisel`, the tray application: it starts and supervises the service
// brisel_core from its own folder and shows the service's state in the tray. With "--feed-url" it
// only prints the update feed (no display needed).
//
// The update checker, the crash reporter and the windows come from src/desktop/components; the
// adapters below put them behind the application's seams.
#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>

#include "common/desktop_link.h"
#include "desktop/app/alerts.h"
#include "desktop/app/app_delegate.h"
#include "desktop/app/branch_rules.h"
#include "desktop/app/crash_reporter.h"
#include "desktop/app/login_item.h"
#include "desktop/app/quit_on_signals.h"
#include "desktop/app/status_menu.h"
#include "desktop/app/updater.h"
#include "desktop/components/crash_reports/crash_reporter.h"
#include "desktop/components/logs/log_view_controller.h"
#include "desktop/components/updates/update_checker.h"
#include "desktop/components/windows/about_panel.h"
#include "desktop/components/windows/general_preferences_view_controller.h"
#include "desktop/link/link_text.h"

namespace app = brisel::desktop::app;
namespace components = brisel::desktop::components;

namespace {

// The appcast checker behind the updater seam. A feed address without host comes from a build
// without feed host: then there is no updater, and a check does nothing.
class AppcastUpdater : public app::Updater {
  public:
    void setFeedURL(const QUrl& feed) override {
        if (feed.host().isEmpty()) {
            checker.reset();
            return;
        }
        components::UpdateCheckerSettings settings;
        settings.feedUrl = feed;
        settings.runningBuild = components::UpdateChecker::thisBuild();
        checker = std::make_unique<components::UpdateChecker>(std::move(settings));
    }
    std::optional<QUrl> feedURL() const override {
        return checker ? std::optional<QUrl>(checker->feedURL()) : std::nullopt;
    }
    void checkForUpdates() override {
        if (checker) {
            components::checkForUpdatesAndTell(*checker);
        }
    }

  private:
    std::unique_ptr<components::UpdateChecker> checker;
};

// The crash-report client behind the crash-reporting seam; a DSN that does not parse (a build
// without ingestion service) means no reporting.
class IngestionCrashReporter : public app::CrashReporter {
  public:
    void start(const app::CrashReportingOptions& options) override {
        auto dsn = components::CrashReportDsn::parse(options.dsn.toStdString());
        if (!dsn || reporter) {
            return;
        }
        components::CrashReporterOptions reporterOptions;
        reporterOptions.dsn = std::move(*dsn);
        reporterOptions.environment = options.environment.toStdString();
        reporterOptions.release = options.release.toStdString();
        reporterOptions.enableAutoSessionTracking = options.enableAutoSessionTracking;
        reporterOptions.databaseFolder =
            std::filesystem::path(QDir::homePath().toStdString()) / ".local/share/velko/crash_reports";
        reporter = std::make_unique<components::CrashReporter>(std::move(reporterOptions));
        reporter->start();
    }
    void close() override {
        if (reporter) {
            reporter->close();
        }
    }

  private:
    std::unique_ptr<components::CrashReporter> reporter;
};

// Tests of the real program shorten its fixed waits by the factor in BRISEL_TIME_SCALE (a number in
// (0, 1]), as they do the service's, which inherits the variable; without it a wait keeps its length.
std::chrono::milliseconds scaledWait(std::chrono::milliseconds wait) {
    bool isNumber = false;
    const double factor = qEnvironmentVariable("BRISEL_TIME_SCALE").toDouble(&isNumber);
    if (!isNumber || !(factor > 0.0 && factor <= 1.0)) {
        return wait;
    }
    const auto scaled =
        static_cast<std::chrono::milliseconds::rep>(std::llround(static_cast<double>(wait.count()) * factor));
    return std::chrono::milliseconds(std::max<std::chrono::milliseconds::rep>(scaled, 1));
}

// The windows of the menu, made on first choice and kept for the life of the program.
struct Windows {
    std::unique_ptr<components::LogViewController> logWindow;
    std::unique_ptr<components::GeneralPreferencesViewController> preferenceWindow;
    std::unique_ptr<components::AboutPanel> aboutPanel;
};

void bringToFront(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

app::MenuHooks windowHooks(Windows& windows, app::AppDelegate*& delegate) {
    return {
        .preferences =
            [&windows, &delegate] {
                if (!windows.preferenceWindow) {
                    windows.preferenceWindow =
                        std::make_unique<components::GeneralPreferencesViewController>([&delegate] {
                            if (delegate != nullptr) {
                                delegate->relaunch();
                            }
                        });
                }
                bringToFront(*windows.preferenceWindow);
            },
        .logs =
            [&windows] {
                if (!windows.logWindow) {
                    const std::filesystem::path log = std::filesystem::path(QDir::homePath().toStdString()) /
                                                      brisel::desktop_link::kLogFolder /
                                                      brisel::desktop_link::kLogFileName;
                    windows.logWindow = std::make_unique<components::LogViewController>(log);
                }
                bringToFront(*windows.logWindow);
            },
        .about =
            [&windows] {
                if (!windows.aboutPanel) {
                    windows.aboutPanel = std::make_unique<components::AboutPanel>();
                }
                windows.aboutPanel->present();
            },
    };
}

}  // namespace

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
    AppcastUpdater updater;
    IngestionCrashReporter crashReporter;
    Windows windows;
    app::AppDelegate* delegatePointer = nullptr;  // for Save in Preferences, set once the delegate exists
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
            .diagnosticsDelay = scaledWait(std::chrono::seconds(20)),
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
         .menuHooks = windowHooks(windows, delegatePointer)});
    delegatePointer = &delegate;
    const app::QuitOnSignals quitOnSignals([&delegate] { delegate.quit(); });
    QTimer::singleShot(0, application.get(), [&delegate] { delegate.applicationWillFinishLaunching(); });
    return QCoreApplication::exec();
}
