// A start that finds the application's name held by an instance that is quitting waits, bounded, for
// that instance to give the name up: it does so once its service has ended (which may take a few
// seconds while the service saves a recording), and the start then goes on. Main thread.
#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>

namespace brisel::desktop::app {

class QuittingInstanceWait : public QObject {
    Q_OBJECT
  public:
    // Calls `onNameMayBeFree` from the main loop right away (the owner may have let go already) and
    // again each time the owner of `identifier` gives it up or ends; the callee claims the name and
    // finds out. Calls `onBoundPassed` once when `bound` passes first. Neither is called after `stop`
    // or destruction.
    QuittingInstanceWait(QDBusConnection bus, const QString& identifier, std::chrono::milliseconds bound,
                         std::function<void()> onNameMayBeFree, std::function<void()> onBoundPassed);

    // Ends the wait; safe from within either callback.
    void stop();

  private:
    void nameMayBeFree();

    QDBusServiceWatcher watcher;
    QTimer deadline;
    std::function<void()> nameFree;
    bool stopped = false;
};

}  // namespace brisel::desktop::app
