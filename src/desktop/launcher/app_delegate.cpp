#include "desktop/launcher/app_delegate.h"

#include <QDebug>
#include <utility>

#include "common/desktop_link.h"
#include "desktop/launcher/application_location.h"
#include "desktop/link/link_text.h"
#include "desktop/link/session_bus_names.h"

namespace brisel::desktop::launcher {

AppDelegate::AppDelegate(LauncherEnvironment launcherEnvironment)
    : environment(std::move(launcherEnvironment)) {}

void AppDelegate::launchMainApplication() {
    using link::qtText;
    link::claimIdentifier(environment.bus, qtText(desktop_link::kLauncherIdentifier));
    if (link::isRunning(environment.bus, qtText(desktop_link::kApplicationIdentifier))) {
        qInfo().noquote() << "Velko Brisel runs already; nothing to launch";
        environment.quit();
        return;
    }
    killLauncherListener = std::make_unique<link::NoticeListener>(
        environment.bus, qtText(desktop_link::kKillLauncherNotice),
        qtText(desktop_link::kApplicationIdentifier), [this] { terminate(); });
    const auto program = applicationProgramFor(environment.ownProgram);
    if (!program) {
        qWarning().noquote() << "Cannot find the application from the launcher's path"
                             << environment.ownProgram;
        environment.quit();
        return;
    }
    qInfo().noquote() << "Launching" << *program;
    if (!environment.launch(*program)) {
        // Nothing would ever post "killLauncher": waiting would last the whole session.
        qWarning().noquote() << "Cannot launch" << *program
                             << "- quitting; start Velko Brisel from the application menu, or install it "
                                "again if it is missing";
        environment.quit();
    }
}

void AppDelegate::terminate() {
    environment.quit();
}

}  // namespace brisel::desktop::launcher
