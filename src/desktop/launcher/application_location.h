// Where the launcher finds the application: it is installed as <prefix>/libexec/brisel/BriselLaunchHelper
// and the application as <prefix>/bin/Velko Brisel, so the application's path is the launcher's own
// path less its last three components, plus "bin" and "Velko Brisel".
#pragma once

#include <QString>
#include <optional>

namespace brisel::desktop::launcher {

// The application's executable for the launcher at `launcherProgram` (an absolute path); none when
// that path has no more than three components, so that nothing would be left of the prefix.
std::optional<QString> applicationProgramFor(const QString& launcherProgram);

}  // namespace brisel::desktop::launcher
