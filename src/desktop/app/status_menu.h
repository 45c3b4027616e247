// The status item in the system tray and its menu: the status line, "Check for Updates",
// "Preferences", "Logs", "Open at Login", "About" and "Quit". The tray shows the item through the
// StatusNotifierItem protocol (the menu is exported on the session bus) or, without a watcher, an
// XEmbed tray; a left click pops the menu up as well. Main thread.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

namespace brisel::desktop::app {

// The titles of the status line, in the order a launch and a failure show them.
inline constexpr const char* kStartingTitle = "Brisel starting...";
inline constexpr const char* kRunningTitle = "Brisel running on port 4751";
inline constexpr const char* kCollectingDiagnosticsTitle =
    "Brisel Server not running, collecting diagnostics, please wait 20 seconds...";
inline constexpr const char* kNotRunningTitle = "Brisel Server not running";

// What the menu's window items do: main.cpp opens the Logs window, the Preferences window and the
// About panel of src/desktop/components through them.
struct MenuHooks {
    std::function<void()> preferences;
    std::function<void()> logs;
    std::function<void()> about;
};

class StatusMenu : public QObject {
    Q_OBJECT
  public:
    // The menu exists at once (status line "Brisel starting..."), the tray item only after `show`.
    explicit StatusMenu(MenuHooks menuHooks);
    ~StatusMenu() override;
    StatusMenu(const StatusMenu&) = delete;
    StatusMenu& operator=(const StatusMenu&) = delete;

    // Puts the item into the tray; the tray must be there (QSystemTrayIcon::isSystemTrayAvailable).
    void show();

    // Sets the status line; the title shows as written, "&" included.
    void setStatusTitle(const QString& title);
    QString statusTitle() const { return currentStatusTitle; }
    // Sets the check mark of "Open at Login".
    void setOpenAtLogin(bool on);
    bool openAtLogin() const { return openAtLoginItem->isChecked(); }

    QMenu& menu() { return *appMenu; }

  signals:
    // "Open at Login" was chosen: `setting` is the opposite of the check mark, which stays as it was
    // until the owner calls setOpenAtLogin.
    void openAtLoginChosen(bool setting);
    void checkForUpdatesChosen();
    void quitChosen();
    // The menu is about to open (the tray host asks before it shows the menu).
    void aboutToShow();

  private:
    // The status item's left click: pops the menu up where the pointer is.
    void displayMenu();

    MenuHooks hooks;
    std::unique_ptr<QMenu> appMenu;
    QAction* statusLine = nullptr;  // owned by appMenu
    QString currentStatusTitle;
    QAction* openAtLoginItem = nullptr;  // owned by appMenu
    std::unique_ptr<QSystemTrayIcon> statusBarItem;
};

}  // namespace brisel::desktop::app
