// The login item: an XDG autostart entry that starts the launcher at login, in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart when unset), named after the launcher's identifier.
#pragma once

#include <QString>
#include <tl/expected.hpp>

namespace brisel::desktop::app {

// What the autostart entry is.
enum class LoginItemState {
    absent,         // no entry
    disabled,       // an entry the desktop skips: Hidden=true or X-GNOME-Autostart-enabled=false
    otherLauncher,  // an effective entry that starts another program (another installation's launcher)
    thisLauncher,   // an effective entry that starts this launcher
};

class LoginItem {
  public:
    // `launcherProgram`: the launcher's absolute path, which the entry runs.
    explicit LoginItem(QString launcher);

    // Writes the entry whole (a temporary file renamed into place) or removes it; removing an entry
    // that is not there succeeds. Errors: a readable reason.
    tl::expected<void, QString> setEnabled(bool enabled) const;

    // Reads the entry (the [Desktop Entry] group of its first 64 KiB); an entry that cannot be read
    // counts as absent.
    LoginItemState state() const;

    // The launcher of the application in `applicationFolder` (<prefix>/bin): <prefix>/libexec/brisel/
    // BriselLaunchHelper.
    static QString launcherProgramFor(const QString& applicationFolder);
    // The entry's path.
    static QString entryPath();
    // The entry's text for the launcher at `launcherProgram`.
    static QString entryText(const QString& launcherProgram);

  private:
    QString launcherProgram;
};

}  // namespace brisel::desktop::app
