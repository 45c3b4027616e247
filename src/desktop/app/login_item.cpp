#include "desktop/app/login_item.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/desktop_link.h"
#include "desktop/link/link_text.h"

namespace brisel::desktop::app {

namespace {

// One argument of an Exec key: quoted, with the characters that need it escaped inside the quotes,
// then the backslashes escaped once more for the string value.
QString execArgument(const QString& argument) {
    QString quoted;
    for (const QChar character : argument) {
        if (character == u'"' || character == u'`' || character == u'$' || character == u'\\') {
            quoted += u'\\';
        }
        quoted += character;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

// The most of an entry that is read: ours are a few hundred bytes.
constexpr qint64 kMostEntryBytes = 64 * 1024;

}  // namespace

LoginItem::LoginItem(QString launcher) : launcherProgram(std::move(launcher)) {}

QString LoginItem::launcherProgramFor(const QString& applicationFolder) {
    return QDir::cleanPath(applicationFolder + QStringLiteral("/../libexec/brisel/") +
                           link::qtText(desktop_link::kLauncherProgram));
}

QString LoginItem::entryPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/autostart/") + link::qtText(desktop_link::kLauncherIdentifier) +
           QStringLiteral(".desktop");
}

QString LoginItem::entryText(const QString& launcherProgram) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Velko Brisel Launcher\n"
               "Comment=Starts Velko Brisel at login\n"
               "Exec=%1\n"
               "NoDisplay=true\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(launcherProgram));
}

tl::expected<void, QString> LoginItem::setEnabled(bool enabled) const {
    const QString path = entryPath();
    if (!enabled) {
        if (QFile::exists(path) && !QFile::remove(path)) {
            return tl::unexpected(QStringLiteral("cannot remove ") + path);
        }
        return {};
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFileInfo(path).path().toStdString()), error);
    if (error) {
        return tl::unexpected(QStringLiteral("cannot create the folder of ") + path + QStringLiteral(": ") +
                              QString::fromStdString(error.message()));
    }
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(entryText(launcherProgram).toUtf8()) < 0 ||
        !entry.commit()) {
        return tl::unexpected(QStringLiteral("cannot write ") + path + QStringLiteral(": ") +
                              entry.errorString());
    }
    return {};
}

LoginItemState LoginItem::state() const {
    QFile entry(entryPath());
    if (!entry.open(QIODevice::ReadOnly)) {
        return LoginItemState::absent;
    }
    const QString text = QString::fromUtf8(entry.read(kMostEntryBytes));
    bool inMainGroup = false;
    bool enabled = true;
    QString exec;
    for (const QString& line : text.split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u'[')) {
            inMainGroup = trimmed == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = trimmed.indexOf(u'=');
        if (!inMainGroup || equals < 0) {
            continue;
        }
        const QString key = trimmed.left(equals).trimmed();
        const QString value = trimmed.mid(equals + 1).trimmed();
        if (key == QStringLiteral("Hidden")) {
            enabled = enabled && value != QStringLiteral("true");
        } else if (key == QStringLiteral("X-GNOME-Autostart-enabled")) {
            enabled = enabled && value != QStringLiteral("false");
        } else if (key == QStringLiteral("Exec")) {
            exec = value;
        }
    }
    if (!enabled) {
        return LoginItemState::disabled;
    }
    return exec == execArgument(launcherProgram) ? LoginItemState::thisLauncher
                                                 : LoginItemState::otherLauncher;
}

}  // namespace brisel::desktop::app
