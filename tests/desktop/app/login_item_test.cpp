// The autostart entry of the login item.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "desktop/app/login_item.h"

namespace {

using brisel::desktop::app::LoginItem;

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

}  // namespace
