// Crash reporting of the tray application: a small client of the crash-report ingestion service.
//
// start() sets aside what the previous run left, begins a session, installs the fatal-signal handler
// (crash_handler.h) and sends; a worker thread then turns what was set aside into reports (a crash
// marker: a fatal event and a crashed session; an unfinished session without marker: an abnormal
// one), naming the crash's frames from local files, and they are sent once it is done. close() ends
// the session and sends what it can within a bound. Every report is first written to an outbox folder
// and deleted once the service has taken it (or refused it for good), so reports that cannot be sent
// wait for a later start; what the worker had not turned into reports yet waits the same way.
#pragma once

#include <QDateTime>
#include <QList>
#include <QNetworkAccessManager>
#include <QSslCertificate>
#include <QString>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "desktop/components/crash_report_dsn.h"

class QNetworkReply;

namespace brisel::desktop::components {

struct CrashReporterOptions {
    CrashReportDsn dsn;
    std::string environment;
    std::string release;
    bool enableAutoSessionTracking = true;
    // Holds the session file, the crash marker and the outbox; created (0700) when missing.
    std::filesystem::path databaseFolder;
    // Certificate authorities trusted besides the system's (tests' loopback servers).
    QList<QSslCertificate> extraCertificateAuthorities;
    // The longest close() waits for sends before it gives up on them (they stay in the outbox).
    std::chrono::milliseconds closeBound{2000};
    // The longest silence of the service during one send.
    std::chrono::milliseconds transferTimeout{30000};
};

// Main thread only (the worker thread is its own). One started reporter per process (the signal
// handler is process-wide).
class CrashReporter {
  public:
    // The most reports kept in the outbox; older ones are dropped beyond it.
    static constexpr std::size_t kMaxQueuedReports = 100;

    enum class CloseOutcome { allSent, someKept };

    explicit CrashReporter(CrashReporterOptions options);
    // Closes when started and not closed.
    ~CrashReporter();
    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    // See the file comment. A second call does nothing.
    void start();
    // Stops the worker (after the frame it names), ends the session ("exited"), uninstalls the handler
    // and waits at most closeBound for the sends; the ones still running are abandoned and their
    // reports kept. Answers allSent when the outbox is empty afterwards. A second call does nothing
    // (allSent).
    CloseOutcome close();

    // Reports that are in the outbox, oldest first.
    std::vector<std::filesystem::path> queuedReports() const;
    // Sends that have not finished.
    std::size_t sendsInFlight() const { return inFlight.size(); }
    // Whether the worker still turns what earlier runs left into reports (they are sent after it).
    bool reportingEarlierRuns() const { return reportingEarlier; }
    // The current session's identifier (empty without session tracking or before start).
    QString sessionId() const { return session ? session->sid : QString(); }

  private:
    struct RunningSession {
        QString sid;
        QDateTime started;
    };

    void setAsidePreviousRun();
    // Worker thread: reports each run that was set aside, oldest first, until `stop`.
    void reportEarlierRuns(std::stop_token stop) const;
    bool reportEarlierRun(const std::filesystem::path& stem, std::stop_token stop) const;
    // Any thread. False when the report could not be written.
    bool queue(const QByteArray& envelope) const;
    void sendQueued();

    CrashReporterOptions options;
    QNetworkAccessManager network;
    std::map<QNetworkReply*, std::filesystem::path> inFlight;
    std::function<void()> whenIdle;  // called when the last send in flight finishes
    std::optional<RunningSession> session;
    bool started = false;
    bool closed = false;
    bool reportingEarlier = false;
    std::jthread earlierRunsWorker;  // last: stopped and joined before the members it uses go
};

// The reporter of this build: the build's DSN (crash_report_dsn.h), the environment of its branch, the
// given release and the folder ~/.local/share/velko/crash_reports. None when the build has no
// ingestion service.
std::unique_ptr<CrashReporter> makeCrashReporter(const std::string& release);

// "velko-brisel@" + the build number (or "0") + "+" + the first 12 digits of the commit.
std::string crashReportRelease();

}  // namespace brisel::desktop::components
