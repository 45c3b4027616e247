#include "desktop/app/branch_rules.h"

#include "desktop/components/build_info.h"
#include "desktop/components/crash_reports/crash_report_dsn.h"
#include "desktop/components/updates/update_feed.h"

namespace brisel::desktop::app {

namespace {

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString branch() {
    return fromView(components::build_info::kBranch);
}

QUrl feedAddress(const QString& branch) {
    return components::updateFeedUrl(components::updateFeedHost(), branch.toStdString()).value_or(QUrl());
}

QString crashReportingEnvironment(const QString& branch) {
    return QString::fromStdString(components::crashReportEnvironment(branch.toStdString()));
}

QString crashReportingDsn() {
    const auto dsn = components::crashReportingDsn(components::build_info::kCrashReportHost,
                                                   components::build_info::kCrashReportProject);
    return dsn ? QString::fromStdString(dsn->text()) : QString();
}

}  // namespace brisel::desktop::app
