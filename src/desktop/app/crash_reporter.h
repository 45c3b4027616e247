// The seam of crash reporting. The launch sequence starts the reporter with the options that
// `configureCrashReporting` fills, and the quit path closes it. main.cpp puts the crash reporter of
// src/desktop/components/crash_reports behind it.
#pragma once

#include <QString>

namespace brisel::desktop::app {

struct CrashReportingOptions {
    QString dsn;
    QString environment;
    QString release;  // the program's version
    bool enableAutoSessionTracking = false;
};

// Fills the options for the build's branch: the project's DSN, the branch's environment, session
// tracking on.
void configureCrashReporting(CrashReportingOptions& options, const QString& branch, const QString& release);

class CrashReporter {
  public:
    virtual ~CrashReporter() = default;
    // Starts reporting for this process (and sends what an earlier crash left). Main thread, once.
    virtual void start(const CrashReportingOptions& options) = 0;
    // Ends the session; called on the quit path. Main thread.
    virtual void close() = 0;
};

}  // namespace brisel::desktop::app
