// The login item: an XDG autostart entry that starts the launcher at login, in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart when unset), named after the launcher's identifier.
#pragma once

#include <QString>
#include <tl/expected.hpp>

namespace brisel::desktop::app {

class LoginItem {
  public:
    // `launcherProgram`: the launcher's absolute path, which the entry runs.
    explicit LoginItem(QString launcher);

    // Writes the entry whole (a temporary file renamed into place) or removes it; removing an entry
    // that is not there succeeds. Errors: a readable reason.
    tl::expected<void, QString> setEnabled(bool enabled) const;

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
