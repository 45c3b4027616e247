#include "desktop/app/crash_reporter.h"

#include "desktop/app/branch_rules.h"

namespace brisel::desktop::app {

void configureCrashReporting(CrashReportingOptions& options, const QString& branch, const QString& release) {
    options.dsn = crashReportingDsn();
    options.environment = crashReportingEnvironment(branch);
    options.release = release;
    options.enableAutoSessionTracking = true;
}

}  // namespace brisel::desktop::app
