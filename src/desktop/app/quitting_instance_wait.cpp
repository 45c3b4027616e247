#include "desktop/app/quitting_instance_wait.h"

#include <utility>

namespace brisel::desktop::app {

QuittingInstanceWait::QuittingInstanceWait(QDBusConnection bus, const QString& identifier,
                                           std::chrono::milliseconds bound,
                                           std::function<void()> onNameMayBeFree,
                                           std::function<void()> onBoundPassed)
    : watcher(identifier, std::move(bus), QDBusServiceWatcher::WatchForUnregistration),
      nameFree(std::move(onNameMayBeFree)) {
    connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, this, &QuittingInstanceWait::nameMayBeFree);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this, boundPassed = std::move(onBoundPassed)] {
        if (!std::exchange(stopped, true)) {
            boundPassed();
        }
    });
    deadline.start(bound);
    // The owner may have let go before the watch was in place: look once from the main loop.
    QTimer::singleShot(0, this, &QuittingInstanceWait::nameMayBeFree);
}

void QuittingInstanceWait::stop() {
    stopped = true;
    deadline.stop();
}

void QuittingInstanceWait::nameMayBeFree() {
    if (!stopped) {
        nameFree();
    }
}

}  // namespace brisel::desktop::app
