// Entry point of BriselLaunchHelper, the login item that the application registers as an XDG
// autostart entry: it starts the application at login unless that runs already, and quits when the
// application posts "killLauncher".
#include <QCoreApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QTimer>

#include "desktop/launcher/app_delegate.h"

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    brisel::desktop::launcher::AppDelegate delegate({
        .bus = QDBusConnection::sessionBus(),
        .ownProgram = QCoreApplication::applicationFilePath(),
        .launch = [](const QString& program) { return QProcess::startDetached(program, {}); },
        .quit = [] { QCoreApplication::exit(0); },
    });
    QTimer::singleShot(0, &application, [&delegate] { delegate.launchMainApplication(); });
    return QCoreApplication::exec();
}
