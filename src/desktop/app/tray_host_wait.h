// At login the tray host may come up after the application. The wait looks, bounded, for a
// StatusNotifierWatcher with a registered host on the session bus or an XEmbed tray on the X display,
// before the application asks Qt whether there is a tray. (Qt decides once per process whether it
// talks to a watcher, so it must not be asked before one is there.)
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

namespace brisel::desktop::app {

class TrayHostWait : public QObject {
    Q_OBJECT
  public:
    // Calls `done` once on the main thread, with the answer of `availability` (Qt's own test by
    // default), as soon as a host shows up or when `bound` has passed.
    TrayHostWait(QDBusConnection sessionBus, std::chrono::milliseconds bound,
                 std::function<bool()> availability, std::function<void(bool available)> onDone);

    // Whether a StatusNotifierWatcher with a host or an XEmbed tray is there now.
    static bool trayHostPresent(const QDBusConnection& sessionBus);

  private:
    void check();

    QDBusConnection bus;
    std::chrono::steady_clock::time_point deadline;
    std::function<bool()> trayAvailable;
    std::function<void(bool)> done;
    QTimer poll;
};

}  // namespace brisel::desktop::app
