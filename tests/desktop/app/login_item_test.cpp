// The autostart entry of the login item.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <optional>

#include "desktop/app/login_item.h"

namespace {

using brisel::desktop::app::LoginItem;
using brisel::desktop::app::LoginItemState;

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(LoginItem, EntryIsValidForAPathWithABlankAndComesAndGoes) {
    const QString launcher = QStringLiteral("/opt/Velko Brisel 100%/libexec/brisel/BriselLaunchHelper");
    EXPECT_EQ(LoginItem::launcherProgramFor("/opt/Velko Brisel/bin"),
              "/opt/Velko Brisel/libexec/brisel/BriselLaunchHelper");
    const LoginItem item(launcher);
    const QString entry = LoginItem::entryPath();
    EXPECT_EQ(entry, QDir::homePath() + "/.config/autostart/com.Velko.BriselLaunchHelper.desktop");

    ASSERT_TRUE(item.setEnabled(true));
    const QByteArray text = contentOf(entry);
    EXPECT_NE(text.indexOf("\nExec=\"/opt/Velko Brisel 100%%/libexec/brisel/BriselLaunchHelper\"\n"), -1)
        << text.toStdString();
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start("desktop-file-validate", {entry});
    ASSERT_TRUE(validator.waitForFinished(60000));
    const QByteArray verdict = validator.readAll();
    EXPECT_EQ(validator.exitCode(), 0) << verdict.toStdString() << text.toStdString();
    EXPECT_TRUE(verdict.isEmpty()) << verdict.toStdString();  // no hints or warnings either

    ASSERT_TRUE(item.setEnabled(false));
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_TRUE(item.setEnabled(false));  // already gone

    // A file where the autostart folder belongs: the entry cannot be written, and says so.
    ASSERT_TRUE(QDir().rmdir(QDir::homePath() + "/.config/autostart"));
    QFile blocker(QDir::homePath() + "/.config/autostart");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto failed = item.setEnabled(true);
    ASSERT_FALSE(failed);
    EXPECT_TRUE(failed.error().contains("autostart")) << failed.error().toStdString();
}

// Whether the entry counts and whose launcher it starts, as the desktop reads it.
TEST(LoginItem, StateFollowsTheEntryOnDisk) {
    QFile::remove(QDir::homePath() + "/.config/autostart");  // a file left where the folder belongs
    const LoginItem item("/opt/new/libexec/brisel/BriselLaunchHelper");
    const QString own = LoginItem::entryText("/opt/new/libexec/brisel/BriselLaunchHelper");
    const QString other = LoginItem::entryText("/opt/old/libexec/brisel/BriselLaunchHelper");
    struct Case {
        const char* name;
        std::optional<QString> text;  // none: no entry
        LoginItemState state;
    };
    for (const Case& row : {
             Case{"none", std::nullopt, LoginItemState::absent},
             Case{"this launcher", own, LoginItemState::thisLauncher},
             Case{"another installation", other, LoginItemState::otherLauncher},
             Case{"hidden", own + "Hidden=true\n", LoginItemState::disabled},
             Case{"turned off in the desktop's settings",
                  QString(own).replace("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled = false"),
                  LoginItemState::disabled},
             Case{"hidden in another group", own + "[Desktop Action x]\nHidden=true\n",
                  LoginItemState::thisLauncher},
             Case{"no Exec", "[Desktop Entry]\nType=Application\n", LoginItemState::otherLauncher},
         }) {
        SCOPED_TRACE(row.name);
        QFile::remove(LoginItem::entryPath());
        if (row.text) {
            ASSERT_TRUE(QDir().mkpath(QDir::homePath() + "/.config/autostart"));
            QFile entry(LoginItem::entryPath());
            ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
            entry.write(row.text->toUtf8());
        }
        EXPECT_EQ(item.state(), row.state);
    }
    QFile::remove(LoginItem::entryPath());
}

}  // namespace
