#include "support/scripted_alerts.h"

#include <QCoreApplication>
#include <QTimer>

namespace brisel::desktop_test {

void ScriptedAlerts::show(const desktop::app::Alert& alert, Answer answer) {
    alerts.push_back(alert);
    int button = desktop::app::kFirstButton;
    if (!script.empty()) {
        button = script.front();
        script.pop_front();
    }
    QTimer::singleShot(0, QCoreApplication::instance(),
                       [answer = std::move(answer), button] { answer(button); });
}

}  // namespace brisel::desktop_test
