// Crash reporting of the tray application: a small client of the crash-report ingestion service.
//
// start() sets aside what earlier runs left, begins a session and installs the fatal-signal handler
// (crash_handler.h); a worker thread then reads the outbox for sending, turns what was set aside into
// reports (a crash marker: a fatal event and a crashed session; an unfinished session
// without marker: an abnormal one), naming the crash's frames from local files, and reads the outbox
// again once it is done. close() ends the session and sends what it can, all within a bound. Every
// report is first written to an outbox folder and deleted once the service has taken it (or refused it
// for good), so reports that cannot be sent wait for a later start; what the worker had not turned into
// reports yet waits the same way.
//
// Several instances may run at once with one database folder (one user in two graphical sessions):
// each keeps its session file and crash marker under a name of its own beside a lock file that it
// holds while it lives (instance_lock.h), and a start sets aside only the files of instances that are
// gone. The single session file and marker of older builds are set aside too.
#pragma once

#include <QDateTime>
#include <QList>
#include <QNetworkAccessManager>
#include <QSslCertificate>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "desktop/components/crash_reports/crash_marker.h"
#include "desktop/components/crash_reports/crash_report_dsn.h"
#include "desktop/components/crash_reports/crash_symbols.h"
#include "desktop/components/crash_reports/instance_lock.h"

class QNetworkReply;

namespace brisel::desktop::components {

struct CrashReporterOptions {
    CrashReportDsn dsn;
    std::string environment;
    std::string release;
    bool enableAutoSessionTracking = true;
    // Holds the instances' session files and crash markers, and the outbox; created (0700) when
    // missing.
    std::filesystem::path databaseFolder;
    // Certificate authorities trusted besides the system's (tests' loopback servers).
    QList<QSslCertificate> extraCertificateAuthorities;
    // The longest close() waits, for the worker and then for the sends, before it gives up on them
    // (the reports and what the worker had not reported yet stay for a later start).
    std::chrono::milliseconds closeBound{2000};
    // The longest silence of the service during one send.
    std::chrono::milliseconds transferTimeout{30000};
    // Names the frames of a crash (see symbolise); answers false when stopped before the last one.
    // Called on the worker thread.
    std::function<bool(CrashMarker&, std::stop_token)> nameFrames = symbolise;
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
    // Asks the worker to stop (after the frame it names), ends the session ("exited"), uninstalls the
    // handler and sends the session's end; returns within closeBound. A worker still naming a frame
    // at the bound is left to end on its own (it touches nothing of the reporter any more; the
    // process may end before it does), and sends still running at the bound are abandoned: their
    // reports stay in the outbox. Answers allSent when the outbox is empty afterwards. A second call
    // does nothing (allSent).
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
    // A report of the outbox, read.
    struct QueuedReport {
        std::filesystem::path file;
        QByteArray envelope;
    };
    // What the worker thread and the reporter share; each holds it, so a worker that close() left
    // behind can end on its own.
    struct WorkerShare {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;       // the worker ended; guarded by mutex
        bool abandoned = false;  // close() waits no more: the worker hands nothing on; guarded by mutex
    };

    // Sets aside what instances that are gone left; the own instance is already locked.
    void setAsideEarlierRuns();
    void startWorker();
    // Sends each report that is not being sent already. Main thread.
    void send(const std::vector<QueuedReport>& reports);
    // The reports of the outbox with their content. Any thread.
    static std::vector<QueuedReport> readOutbox(const std::filesystem::path& databaseFolder);

    CrashReporterOptions options;
    QNetworkAccessManager network;
    std::map<QNetworkReply*, std::filesystem::path> inFlight;
    // Reports taken (or refused for good) in this run: the worker may have read one before it was
    // deleted, and it is not sent again.
    std::set<std::filesystem::path> delivered;
    std::function<void()> whenIdle;  // called when the last send in flight finishes
    std::optional<RunningSession> session;
    std::string instance;                      // names this instance's files; set by start()
    std::optional<InstanceLock> instanceLock;  // held from start() to close()
    bool started = false;
    bool closed = false;
    bool reportingEarlier = false;
    std::shared_ptr<WorkerShare> workerShare = std::make_shared<WorkerShare>();
    std::jthread earlierRunsWorker;  // last: stopped and joined (or left behind by close) first
};

// The reporter of this build: the build's DSN (crash_report_dsn.h), the environment of its branch, the
// given release and the folder ~/.local/share/velko/crash_reports. None when the build has no
// ingestion service.
std::unique_ptr<CrashReporter> makeCrashReporter(const std::string& release);

// "velko-brisel@" + the build number (or "0") + "+" + the first 12 digits of the commit.
std::string crashReportRelease();

}  // namespace brisel::desktop::components
