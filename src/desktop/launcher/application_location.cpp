#include "desktop/launcher/application_location.h"

#include <QStringList>

#include "common/desktop_link.h"
#include "desktop/link/link_text.h"

namespace brisel::desktop::launcher {

std::optional<QString> applicationProgramFor(const QString& launcherProgram) {
    // "/a/libexec/brisel/BriselLaunchHelper" splits into "", "a", "libexec", "brisel", "BriselLaunchHelper".
    QStringList components = launcherProgram.split(u'/', Qt::SkipEmptyParts);
    constexpr qsizetype kLauncherComponents = 3;  // libexec, brisel, the launcher itself
    if (!launcherProgram.startsWith(u'/') || components.size() <= kLauncherComponents) {
        return std::nullopt;
    }
    components.resize(components.size() - kLauncherComponents);
    components << QStringLiteral("bin") << link::qtText(desktop_link::kApplicationProgram);
    return u'/' + components.join(u'/');
}

}  // namespace brisel::desktop::launcher
