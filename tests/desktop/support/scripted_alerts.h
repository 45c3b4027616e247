// Alerts answered by a test: each shown alert is recorded and answered, from the main loop, with the
// next scripted button (the first button when the script is empty).
#pragma once

#include <deque>
#include <vector>

#include "desktop/app/alerts.h"

namespace brisel::desktop_test {

class ScriptedAlerts : public desktop::app::Alerts {
  public:
    // Answers the coming alerts with these buttons, in order (desktop::app::kFirstButton is the first).
    void answerWith(std::vector<int> buttons) { script.assign(buttons.begin(), buttons.end()); }
    void show(const desktop::app::Alert& alert, Answer answer) override;

    const std::vector<desktop::app::Alert>& shown() const { return alerts; }

  private:
    std::deque<int> script;
    std::vector<desktop::app::Alert> alerts;
};

}  // namespace brisel::desktop_test
