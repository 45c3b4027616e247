// The envelopes the crash reporter sends: session updates and fatal events, in the ingestion
// service's envelope format (one JSON header line, then per item a JSON item header line and the
// item's JSON payload line).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <string>

#include "desktop/components/crash_reports/crash_marker.h"
#include "desktop/components/crash_reports/crash_report_dsn.h"

namespace brisel::desktop::components {

// One update of a session (automatic session tracking: started at start, ended at close, crashed
// or abnormal when the next start finds it unfinished).
struct SessionUpdate {
    enum class Status { ok, exited, crashed, abnormal };
    QString sid;        // a UUID
    QDateTime started;  // UTC
    QDateTime timestamp;
    bool init = false;  // true for the first update of a session
    Status status = Status::ok;
    int errors = 0;
    std::string release;
    std::string environment;
};

// "ok", "exited", "crashed", "abnormal"
std::string sessionStatusText(SessionUpdate::Status status);

// An envelope with one session item.
QByteArray sessionEnvelope(const CrashReportDsn& dsn, const SessionUpdate& session);

// An envelope with a fatal event for `marker` (one exception named after the signal, its stack
// trace outermost frame first, C++ names demangled) and, when given, the crashed session update.
QByteArray crashEnvelope(const CrashReportDsn& dsn, const CrashMarker& marker, const QDateTime& crashedAt,
                         const std::string& release, const std::string& environment,
                         const std::optional<SessionUpdate>& crashedSession);

}  // namespace brisel::desktop::components
