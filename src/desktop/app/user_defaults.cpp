#include "desktop/app/user_defaults.h"

namespace brisel::desktop::app {

std::unique_ptr<QSettings> openUserDefaults() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velko"),
                                       QStringLiteral("Brisel"));
}

bool userDefaultsHasKey(const QSettings& defaults, const QString& key) {
    return defaults.contains(key);
}

}  // namespace brisel::desktop::app
