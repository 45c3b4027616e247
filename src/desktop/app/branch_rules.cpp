#include "desktop/app/branch_rules.h"

namespace brisel::desktop::app {

namespace {

// Deployment values, set by the build (src/desktop/app/CMakeLists.txt).
constexpr const char* kBranch = BRISEL_BRANCH;
constexpr const char* kUpdateFeedHost = BRISEL_UPDATE_FEED_HOST;
constexpr const char* kCrashReportHost = BRISEL_CRASH_REPORT_HOST;
constexpr const char* kCrashReportProject = BRISEL_CRASH_REPORT_PROJECT;
constexpr const char* kCrashReportPublicKey = "7b3e0d5a91c4462f8e2ba6d01f9c3e58";

}  // namespace

QString branch() {
    return QString::fromUtf8(kBranch);
}

QUrl feedAddress(const QString& branch) {
    QString folder = QStringLiteral("LATEST_develop");
    if (branch.contains(QStringLiteral("release"))) {
        folder = QStringLiteral("LATEST_") + branch;
    } else if (branch == QStringLiteral("master")) {
        folder = QStringLiteral("STABLE");
    }
    QUrl address;
    address.setScheme(QStringLiteral("https"));
    address.setHost(QString::fromUtf8(kUpdateFeedHost));
    address.setPath(u'/' + folder + QStringLiteral("/briselcast.xml.rss"));
    return address;
}

QString crashReportingEnvironment(const QString& branch) {
    if (branch.startsWith(QStringLiteral("release"))) {
        return QStringLiteral("release");
    }
    return branch == QStringLiteral("master") ? QStringLiteral("production") : QStringLiteral("develop");
}

QString crashReportingDsn() {
    return QStringLiteral("https://%1@%2/%3")
        .arg(QString::fromUtf8(kCrashReportPublicKey), QString::fromUtf8(kCrashReportHost),
             QString::fromUtf8(kCrashReportProject));
}

}  // namespace brisel::desktop::app
