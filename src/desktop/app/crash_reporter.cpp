#include "desktop/app/crash_reporter.h"

#include <QDebug>

#include "desktop/app/branch_rules.h"

namespace brisel::desktop::app {

void configureCrashReporting(CrashReportingOptions& options, const QString& branch, const QString& release) {
    options.dsn = crashReportingDsn();
    options.environment = crashReportingEnvironment(branch);
    options.release = release;
    options.enableAutoSessionTracking = true;
}

void LoggingCrashReporter::start(const CrashReportingOptions& options) {
    qInfo().noquote() << "Crash reporting for environment" << options.environment
                      << "not started: no crash reporter in this build";
}

void LoggingCrashReporter::close() {}

}  // namespace brisel::desktop::app
