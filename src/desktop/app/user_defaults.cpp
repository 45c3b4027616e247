#include "desktop/app/user_defaults.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

namespace brisel::desktop::app {

std::unique_ptr<QSettings> openUserDefaults() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velko"),
                                       QStringLiteral("Brisel"));
}

bool userDefaultsHasKey(const QSettings& defaults, const QString& key) {
    return defaults.contains(key);
}

std::optional<QString> userDefaultsWriteProblem(const QSettings& defaults) {
    const QString path = defaults.fileName();
    const QString folder = QFileInfo(path).absolutePath();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), error);
    if (error) {
        return QStringLiteral("cannot create the folder %1: %2")
            .arg(folder, QString::fromStdString(error.message()));
    }
    // The settings are saved whole: a new file in the folder, then renamed over the old one.
    QTemporaryFile probe(folder + QStringLiteral("/.settings-XXXXXX"));
    if (!probe.open()) {
        return QStringLiteral("cannot write in the folder %1: %2").arg(folder, probe.errorString());
    }
    QFile file(path);
    if (file.exists() && !file.open(QIODevice::ReadWrite)) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    return std::nullopt;
}

}  // namespace brisel::desktop::app
