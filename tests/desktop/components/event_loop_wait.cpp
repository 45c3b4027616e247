#include "event_loop_wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

namespace brisel::desktop::components::test {

bool runEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const QDeadlineTimer deadline(bound);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

}  // namespace brisel::desktop::components::test
