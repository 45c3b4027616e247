// The launcher's one piece of work: at login, start the application unless it runs already, then wait
// until the application posts "killLauncher" and quit.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>
#include <memory>

#include "desktop/link/notice_bus.h"

namespace brisel::desktop::launcher {

// What the launcher acts on; main() fills it with the session bus, its own executable, a detached
// start and the application's quit, tests with a private bus and their own programs.
struct LauncherEnvironment {
    QDBusConnection bus;
    QString ownProgram;                                  // the launcher's own executable, absolute
    std::function<bool(const QString& program)> launch;  // starts the program detached; false: failed
    std::function<void()> quit;                          // the ordinary quit of the launcher
};

class AppDelegate {
  public:
    explicit AppDelegate(LauncherEnvironment launcherEnvironment);

    // On launch, main thread: claims com.Velko.BriselLaunchHelper (so that the application finds the
    // launcher), quits at once when com.Velko.Brisel runs; otherwise listens for "killLauncher" from
    // com.Velko.Brisel and launches the application found from the own path (quits when that path
    // gives none). A failed launch is logged and the launcher quits.
    void launchMainApplication();

    // The target of "killLauncher": quits the launcher.
    void terminate();

  private:
    LauncherEnvironment environment;
    std::unique_ptr<link::NoticeListener> killLauncherListener;
};

}  // namespace brisel::desktop::launcher
