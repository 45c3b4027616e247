// The tray application's delegate: the launch sequence, the service's supervision with what the user
// is told when it stops, the menu actions, the relaunch and the quit path. Everything runs on the main
// thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "desktop/app/alerts.h"
#include "desktop/app/crash_reporter.h"
#include "desktop/app/login_item.h"
#include "desktop/app/quitting_instance_wait.h"
#include "desktop/app/service_supervisor.h"
#include "desktop/app/status_menu.h"
#include "desktop/app/tray_host_wait.h"
#include "desktop/app/updater.h"

namespace brisel::desktop::app {

// Where the application is and what it waits for; main() fills it for the installed layout, tests
// with their own programs, a private bus and short delays.
struct AppEnvironment {
    QStringList arguments;
    QString branch;
    QString release;          // the program's version
    QString serviceProgram;   // brisel_core, beside the application
    QString launcherProgram;  // the login item's program, which the autostart entry runs
    QString ownProgram;       // started again by a relaunch
    QDBusConnection bus;
    std::uint16_t servicePort = 0;
    std::chrono::milliseconds cleanupBound = std::chrono::seconds(5);
    std::chrono::milliseconds trayHostBound = std::chrono::seconds(10);
    std::chrono::milliseconds diagnosticsDelay = std::chrono::seconds(20);
    std::chrono::milliseconds terminationBound = std::chrono::seconds(5);
    // How long a start waits for an instance that is quitting: its service's SIGTERM and SIGKILL
    // bounds, with room to spare.
    std::chrono::milliseconds quittingInstanceBound = std::chrono::seconds(12);
    std::function<bool(const QString& program, QString& error)> startDetached;
    // Whether the tray can show the status item (QSystemTrayIcon::isSystemTrayAvailable).
    std::function<bool()> trayAvailable;
    // Ends the main loop with the status (after the quit path has run).
    std::function<void(int status)> exit;
};

// The parts that other code provides: alerts, the update and crash-reporting seams, the window hooks.
struct AppParts {
    Alerts& alerts;
    Updater& updater;
    CrashReporter& crashReporter;
    MenuHooks menuHooks;
};

class AppDelegate : public QObject {
    Q_OBJECT
  public:
    AppDelegate(AppEnvironment appEnvironment, AppParts appParts);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch sequence: feed address, "--feed-url", the session-bus name (a start while another
    // instance owns it logs and quits with status 0, touching nothing of the running one; while the
    // owner is quitting, the start waits for it to end, at most the quitting-instance bound, then
    // goes on, or quits with status 1 when the bound passed first), crash
    // reporting, the stale-service cleanup, the service (not started while others hold its port), the
    // status item (after waiting for a tray host), the "killLauncher" notice, the login item and the
    // first-launch notice. Call once from the running main loop. Without a tray, or on a quit before
    // it, "killLauncher" is posted before the application ends.
    void applicationWillFinishLaunching();

    // The ordinary quit path: stops the service (SIGTERM, bounded wait), gives up the session-bus
    // name, closes crash reporting and ends the main loop with `status`. Idempotent.
    void quit(int status = 0);

    // Hands over to a new instance of this program: ends this one's service, crash session and name
    // first, then starts the new one detached and quits; a failed start quits with "Failed to restart
    // due to error ..." and status 1.
    void relaunch();

    // The status menu, once the launch sequence created it; null before.
    StatusMenu* statusMenu() const { return statusMenuPointer.get(); }
    ServiceSupervisor& supervisor() { return briselServerTask; }

  private:
    // Claims the application's name, waits for a quitting owner, or ends this start.
    void claimApplicationName();
    void endQuittingInstanceWait();
    // The launch sequence from crash reporting on, once this instance may run.
    void continueLaunch();
    void continueWithTray(bool available);
    // Starts the service once the cleanup left its port free; otherwise tells who holds the port.
    void startServer(bool portFree);
    // The service does not run (`startError` when it could not start): the status line at once, the
    // "Fatal Error" alert after the diagnostics delay. When other programs listen on the service's
    // port, both name the port and them.
    void serverStopped(const std::optional<QString>& startError);
    void setStatusTitle(const QString& title);
    // Follows the autostart entry: the check mark (and the stored key, once there is one) says whether
    // an effective entry exists.
    void showOpenAtLogin();
    // Posts "killLauncher" once, when the launcher runs: when the tray is up, or before an exit
    // without it.
    void tellLauncherToQuit();
    void toggleOpenAtLogin(bool setting);
    // Everything of the quit path but the end of the main loop. Idempotent.
    void endInstance();

    AppEnvironment environment;
    AppParts parts;
    std::unique_ptr<QSettings> userDefaults;
    LoginItem loginItem;
    ServiceSupervisor briselServerTask;
    std::unique_ptr<StatusMenu> statusMenuPointer;
    std::unique_ptr<TrayHostWait> trayHostWait;
    std::unique_ptr<QuittingInstanceWait> quittingInstanceWait;
    bool quitting = false;
    bool instanceEnded = false;
    bool ownsName = false;         // this instance owns com.Velko.Brisel
    bool launcherMayWait = false;  // the launch sequence went past "--feed-url"
    bool launcherTold = false;
};

}  // namespace brisel::desktop::app
