#include "support/event_wait.h"

#include <QEventLoop>
#include <QTimer>

namespace brisel::desktop_test {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        // Wakes on any event, or after a short slice to look at the condition again.
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(20), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

std::string describeSeen(const QString& text) {
    return "\"" + text.toStdString() + "\"";
}

std::string describeSeen(const QStringList& texts) {
    return "[\"" + texts.join(QStringLiteral("\", \"")).toStdString() + "\"]";
}

}  // namespace brisel::desktop_test
