// Alerts to the user behind a small interface: the application shows message boxes, tests answer
// from a script. An alert never blocks the main loop: its answer arrives through a callback.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace brisel::desktop::app {

enum class AlertStyle { informational, warning, critical };

// The answer of the first button; the n-th button answers kFirstButton + n - 1.
inline constexpr int kFirstButton = 1000;

struct Alert {
    AlertStyle style = AlertStyle::informational;
    QString message;
    QString informativeText;
    QStringList buttons;  // at least one
};

class Alerts {
  public:
    using Answer = std::function<void(int button)>;
    virtual ~Alerts() = default;
    // Shows the alert and returns at once; `answer` runs on the main thread with the chosen button
    // (kFirstButton for the first one; closing the alert answers the last button). Main thread.
    virtual void show(const Alert& alert, Answer answer) = 0;
};

// Alerts as application-modal message boxes titled with the program's name: the message is the box's
// main text, the informative text is shown as plain text, cut to fit the screen. Each alert is logged
// ("Alert: " with its message and the start of its informative text).
class MessageBoxAlerts : public Alerts {
  public:
    void show(const Alert& alert, Answer answer) override;
};

}  // namespace brisel::desktop::app
