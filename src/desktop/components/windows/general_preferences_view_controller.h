// The Preferences window: any change marks it edited; closing an edited window asks whether to save,
// and saving relaunches the application.
#pragma once

#include <QWidget>

#include <functional>

class QCloseEvent;
class QLineEdit;

namespace brisel::desktop::components {

// The answers to "Do you want to save your changes?".
enum class SaveChangesAnswer { save, cancel, dontSave };

// Main thread only.
class GeneralPreferencesViewController : public QWidget {
  public:
    using Relaunch = std::function<void()>;
    using AskToSave = std::function<SaveChangesAnswer(QWidget& window)>;

    // `relaunch` restarts the application (the running instance quits); `askToSave` asks the
    // question on close (default: a warning alert with "Save", "Cancel" and "Don't Save").
    explicit GeneralPreferencesViewController(Relaunch relaunch, AskToSave askToSave = askWithAlert,
                                              QWidget* parent = nullptr);

    // The buttons and the fields: each marks the window edited; Save relaunches.
    void resetClicked();
    void developerClicked();
    void controlTextDidChange();
    void saveClicked();

    // Whether the window may close now: an unedited one may; an edited one asks. "Save" relaunches
    // and closes, "Cancel" keeps the window open and edited, "Don't Save" clears the mark and closes.
    bool windowShouldClose();

    // The alert of askToSave's default.
    static SaveChangesAnswer askWithAlert(QWidget& window);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    Relaunch relaunch;
    AskToSave askToSave;
};

}  // namespace brisel::desktop::components
