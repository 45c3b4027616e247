#include "desktop/components/crash_reports/crash_reporter.h"

#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QTimer>
#include <QUuid>

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <set>
#include <system_error>
#include <utility>

#include "desktop/components/build_info.h"
#include "desktop/components/crash_reports/crash_envelope.h"
#include "desktop/components/crash_reports/crash_handler.h"
#include "desktop/components/crash_reports/crash_marker.h"
#include "desktop/components/crash_reports/crash_symbols.h"

namespace brisel::desktop::components {

namespace fs = std::filesystem;

namespace {

// Each running instance's files: <instance>.lock, <instance>.session and <instance>.marker.
constexpr const char* kInstancesFolder = "running";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kSessionSuffix = ".session";
constexpr const char* kMarkerSuffix = ".marker";
// The one session file and marker of builds that ran one instance at a time.
constexpr const char* kSingleSessionFile = "session.json";
constexpr const char* kSingleMarkerFile = "crash.marker";
constexpr const char* kOutboxFolder = "outbox";
constexpr const char* kReportSuffix = ".envelope";
// What earlier runs left, each run's marker and session file under one name, until reported.
constexpr const char* kSetAsideFolder = "unreported";
constexpr const char* kSetAsideMarkerSuffix = ".marker";
constexpr const char* kSetAsideSessionSuffix = ".session";
// A marker whose frames are being named. Left by a start that ended meanwhile, it is sent with
// addresses only: naming them again could end this start the same way.
constexpr const char* kNamingMarkerSuffix = ".naming";
constexpr qint64 kMaxSessionFileBytes = 64 * 1024;
constexpr qint64 kMaxReportBytes = 16 * 1024 * 1024;

QString qPath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

std::optional<QByteArray> readSmallFile(const fs::path& path, qint64 maxBytes) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return std::nullopt;  // reading a FIFO or a device could block for ever
    }
    QFile file(qPath(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.read(maxBytes);
}

// The session the previous run left, when its file is sound.
struct PreviousSession {
    QString sid;
    QDateTime started;
    std::string release;
    std::string environment;
};

std::optional<PreviousSession> readPreviousSession(const fs::path& file) {
    const auto bytes = readSmallFile(file, kMaxSessionFileBytes);
    if (!bytes) {
        return std::nullopt;
    }
    const QJsonObject object = QJsonDocument::fromJson(*bytes).object();
    PreviousSession previous{
        object.value(QStringLiteral("sid")).toString(),
        QDateTime::fromString(object.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs),
        object.value(QStringLiteral("release")).toString().toStdString(),
        object.value(QStringLiteral("environment")).toString().toStdString(),
    };
    if (QUuid::fromString(previous.sid).isNull() || !previous.started.isValid()) {
        return std::nullopt;
    }
    return previous;
}

// Names that sort by the time they were made: milliseconds, a sequence number, a random part.
QString uniqueName() {
    static std::atomic<unsigned> sequence{0};
    return QStringLiteral("%1-%2-%3")
        .arg(QDateTime::currentMSecsSinceEpoch(), 13, 10, QLatin1Char('0'))
        .arg(++sequence, 6, 10, QLatin1Char('0'))
        .arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
}

fs::path withSuffix(fs::path path, const char* suffix) {
    return path += suffix;
}

bool isPermanentRefusal(int status) {
    return status >= 400 && status < 500 && status != 408 && status != 429;
}

std::vector<fs::path> outboxReports(const fs::path& databaseFolder) {
    std::vector<fs::path> reports;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(databaseFolder / kOutboxFolder, error)) {
        if (entry.path().extension() == kReportSuffix && entry.is_regular_file(error)) {
            reports.push_back(entry.path());
        }
    }
    std::sort(reports.begin(), reports.end());
    return reports;
}

// Writes the report into the outbox, dropping the oldest beyond kMaxQueuedReports; answers its file,
// or nothing when there is nowhere to keep it. Any thread.
std::optional<fs::path> queueReport(const fs::path& databaseFolder, const QByteArray& envelope) {
    const fs::path report =
        databaseFolder / kOutboxFolder / (uniqueName().toStdString() + std::string(kReportSuffix));
    QSaveFile file(qPath(report));
    if (!file.open(QIODevice::WriteOnly) || file.write(envelope) != envelope.size() || !file.commit()) {
        return std::nullopt;
    }
    std::vector<fs::path> reports = outboxReports(databaseFolder);
    for (std::size_t index = 0; index + CrashReporter::kMaxQueuedReports < reports.size(); ++index) {
        std::error_code ignored;
        fs::remove(reports[index], ignored);
    }
    return report;
}

// What the worker reads, copied for it: plain values and the frame-naming function, never an object
// that another thread shares (the certificates, for one, hold OpenSSL objects of Qt's network thread).
struct EarlierRunsOptions {
    CrashReportDsn dsn;
    std::string environment;
    std::string release;
    bool enableAutoSessionTracking;
    fs::path databaseFolder;
    std::function<bool(CrashMarker&, std::stop_token)> nameFrames;
};

EarlierRunsOptions earlierRunsOptions(const CrashReporterOptions& options) {
    return {options.dsn,
            options.environment,
            options.release,
            options.enableAutoSessionTracking,
            options.databaseFolder,
            options.nameFrames};
}

// False when the run is to be reported again later: stopped, or the report could not be written.
bool reportEarlierRun(const EarlierRunsOptions& options, const fs::path& run, std::stop_token stop) {
    const fs::path markerPath = withSuffix(run, kNamingMarkerSuffix);
    std::error_code error;
    const bool namingEndedBefore = fs::exists(markerPath, error);
    if (!namingEndedBefore) {
        fs::rename(withSuffix(run, kSetAsideMarkerSuffix), markerPath, error);  // nothing when no marker
    }
    const std::optional<PreviousSession> previous =
        readPreviousSession(withSuffix(run, kSetAsideSessionSuffix));
    const std::optional<QByteArray> markerBytes = readSmallFile(markerPath, kMaxCrashMarkerBytes);
    const QDateTime crashedAt =
        markerBytes ? QFileInfo(qPath(markerPath)).lastModified().toUTC() : QDateTime::currentDateTimeUtc();

    const std::string release = previous ? previous->release : options.release;
    const std::string environment = previous ? previous->environment : options.environment;
    std::optional<SessionUpdate> ended;
    if (previous && options.enableAutoSessionTracking) {
        ended = SessionUpdate{previous->sid,
                              previous->started,
                              std::max(crashedAt, previous->started),
                              false,
                              SessionUpdate::Status::abnormal,
                              0,
                              release,
                              environment};
    }
    auto marker = markerBytes ? parseCrashMarker(markerBytes->toStdString())
                              : tl::expected<CrashMarker, std::string>(tl::unexpect, "no marker");
    if (marker) {
        if (!namingEndedBefore && !options.nameFrames(*marker, stop)) {
            fs::rename(markerPath, withSuffix(run, kSetAsideMarkerSuffix), error);  // named at the next start
            return false;
        }
        if (ended) {
            ended->status = SessionUpdate::Status::crashed;
            ended->errors = 1;
        }
        return queueReport(options.databaseFolder,
                           crashEnvelope(options.dsn, *marker, crashedAt, release, environment, ended))
            .has_value();
    }
    if (ended) {
        return queueReport(options.databaseFolder, sessionEnvelope(options.dsn, *ended)).has_value();
    }
    return true;
}

// Reports each run that was set aside, oldest first, until `stop`. Worker thread.
void reportEarlierRuns(const EarlierRunsOptions& options, std::stop_token stop) {
    std::set<fs::path> runs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(options.databaseFolder / kSetAsideFolder, error)) {
        const fs::path extension = entry.path().extension();
        if (extension == kSetAsideMarkerSuffix || extension == kSetAsideSessionSuffix ||
            extension == kNamingMarkerSuffix) {
            runs.insert(fs::path(entry.path()).replace_extension());
        }
    }
    for (const fs::path& run : runs) {
        if (stop.stop_requested() || !reportEarlierRun(options, run, stop)) {
            return;  // the rest waits for the next start
        }
        for (const char* suffix : {kSetAsideMarkerSuffix, kSetAsideSessionSuffix, kNamingMarkerSuffix}) {
            fs::remove(withSuffix(run, suffix), error);
        }
    }
}

}  // namespace

CrashReporter::CrashReporter(CrashReporterOptions reporterOptions) : options(std::move(reporterOptions)) {}

CrashReporter::~CrashReporter() {
    if (started && !closed) {
        close();
    }
}

void CrashReporter::start() {
    if (started) {
        return;
    }
    started = true;
    std::error_code error;
    fs::create_directories(options.databaseFolder / kOutboxFolder, error);
    fs::create_directories(options.databaseFolder / kSetAsideFolder, error);
    fs::create_directories(options.databaseFolder / kInstancesFolder, error);
    fs::permissions(options.databaseFolder, fs::perms::owner_all, fs::perm_options::replace, error);
    instance = uniqueName().toStdString();
    const fs::path instanceFiles = options.databaseFolder / kInstancesFolder / instance;
    if (auto locked = InstanceLock::acquire(withSuffix(instanceFiles, kLockSuffix))) {
        instanceLock = std::move(*locked);
    } else {
        qWarning().noquote() << QStringLiteral(
                                    "Crash reporting: %1; a start of Velko Brisel in another session may "
                                    "report this one as ended abnormally (check that the folder is writable)")
                                    .arg(QString::fromStdString(locked.error()));
    }
    setAsideEarlierRuns();
    if (options.enableAutoSessionTracking) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        session = RunningSession{QUuid::createUuid().toString(QUuid::WithoutBraces), now};
        QSaveFile file(qPath(withSuffix(instanceFiles, kSessionSuffix)));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QJsonDocument(
                           QJsonObject{
                               {QStringLiteral("sid"), session->sid},
                               {QStringLiteral("started"), now.toString(Qt::ISODateWithMs)},
                               {QStringLiteral("release"), QString::fromStdString(options.release)},
                               {QStringLiteral("environment"), QString::fromStdString(options.environment)},
                           })
                           .toJson(QJsonDocument::Compact));
            file.commit();
        }
        queueReport(options.databaseFolder,
                    sessionEnvelope(options.dsn, {session->sid, now, now, true, SessionUpdate::Status::ok, 0,
                                                  options.release, options.environment}));
    }
    // Without it, crashes go unreported.
    (void)installCrashHandler(withSuffix(instanceFiles, kMarkerSuffix));
    startWorker();
}

// The worker has its own copy of what it reads and hands the outbox's reports to the main thread only
// while close() has not given up on it.
void CrashReporter::startWorker() {
    reportingEarlier = true;
    earlierRunsWorker = std::jthread(
        [this, share = workerShare, workerOptions = earlierRunsOptions(options)](std::stop_token stop) {
            const auto handOn = [&](bool last) {
                std::vector<QueuedReport> reports = readOutbox(workerOptions.databaseFolder);
                const std::lock_guard lock(share->mutex);
                if (share->abandoned) {
                    return;
                }
                // Dropped with `network` when the reporter goes first.
                QMetaObject::invokeMethod(
                    &network,
                    [this, last, reports = std::move(reports)] {
                        reportingEarlier = reportingEarlier && !last;
                        if (!closed) {
                            send(reports);
                        }
                    },
                    Qt::QueuedConnection);
            };
            handOn(false);  // what waited from earlier starts, and this session's start
            reportEarlierRuns(workerOptions, stop);
            handOn(true);
            {
                const std::lock_guard lock(share->mutex);
                share->done = true;
            }
            share->ended.notify_all();
        });
}

// Renames only: what is in the files is read on the worker thread. Two starts at once each take what
// their renames win.
void CrashReporter::setAsideEarlierRuns() {
    const auto setAside = [this](const fs::path& marker, const fs::path& sessionFile) {
        const fs::path run = options.databaseFolder / kSetAsideFolder / uniqueName().toStdString();
        std::error_code ignored;
        fs::rename(marker, withSuffix(run, kSetAsideMarkerSuffix), ignored);
        fs::rename(sessionFile, withSuffix(run, kSetAsideSessionSuffix), ignored);
    };
    setAside(options.databaseFolder / kSingleMarkerFile, options.databaseFolder / kSingleSessionFile);

    const fs::path instances = options.databaseFolder / kInstancesFolder;
    std::set<std::string> others;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(instances, error)) {
        const fs::path extension = entry.path().extension();
        if (extension == kLockSuffix || extension == kSessionSuffix || extension == kMarkerSuffix) {
            others.insert(entry.path().stem().string());
        }
    }
    others.erase(instance);
    for (const std::string& other : others) {
        const fs::path files = instances / other;
        // Held until the files are set aside; dropping it removes the lock file.
        const std::optional<InstanceLock> gone = InstanceLock::takeOverIfGone(withSuffix(files, kLockSuffix));
        if (gone) {
            setAside(withSuffix(files, kMarkerSuffix), withSuffix(files, kSessionSuffix));
        }
    }
}

std::vector<fs::path> CrashReporter::queuedReports() const {
    return outboxReports(options.databaseFolder);
}

std::vector<CrashReporter::QueuedReport> CrashReporter::readOutbox(const fs::path& databaseFolder) {
    std::vector<QueuedReport> reports;
    for (fs::path& report : outboxReports(databaseFolder)) {
        if (std::optional<QByteArray> envelope = readSmallFile(report, kMaxReportBytes)) {
            reports.push_back({std::move(report), std::move(*envelope)});
        }
    }
    return reports;
}

void CrashReporter::send(const std::vector<QueuedReport>& reports) {
    for (const QueuedReport& queued : reports) {
        const fs::path& report = queued.file;
        if (delivered.contains(report) ||
            std::any_of(inFlight.begin(), inFlight.end(),
                        [&](const auto& sending) { return sending.second == report; })) {
            continue;
        }
        QNetworkRequest request(options.dsn.envelopeUrl());
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-sentry-envelope"));
        request.setRawHeader("X-Sentry-Auth", QByteArray::fromStdString(options.dsn.authHeader()));
        request.setTransferTimeout(static_cast<int>(options.transferTimeout.count()));
        if (!options.extraCertificateAuthorities.isEmpty()) {
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.addCaCertificates(options.extraCertificateAuthorities);
            request.setSslConfiguration(tls);
        }
        QNetworkReply* reply = network.post(request, queued.envelope);  // owned by `network`, deleted below
        inFlight[reply] = report;
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
            reply->deleteLater();
            const auto found = inFlight.find(reply);
            if (found == inFlight.end()) {
                return;
            }
            const fs::path sent = found->second;
            inFlight.erase(found);
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if ((status >= 200 && status <= 299) || isPermanentRefusal(status)) {
                std::error_code ignored;
                fs::remove(sent, ignored);  // taken, or refused for good: sending it again changes nothing
                delivered.insert(sent);
            }
            if (inFlight.empty() && whenIdle) {
                whenIdle();
            }
        });
    }
}

CrashReporter::CloseOutcome CrashReporter::close() {
    if (!started || closed) {
        return CloseOutcome::allSent;
    }
    closed = true;
    const auto deadline = std::chrono::steady_clock::now() + options.closeBound;
    earlierRunsWorker.request_stop();
    bool workerEnded = false;
    {
        std::unique_lock lock(workerShare->mutex);
        workerEnded = workerShare->ended.wait_until(lock, deadline, [this] { return workerShare->done; });
        workerShare->abandoned = true;
    }
    if (workerEnded) {
        earlierRunsWorker.join();
    } else {
        qWarning().noquote() << "Crash reporting: naming the frames of an earlier crash did not stop within"
                             << options.closeBound.count()
                             << "ms; quitting without it (the crash is reported at the next start)";
        earlierRunsWorker.detach();
    }
    reportingEarlier = false;
    uninstallCrashHandler();
    if (session) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QByteArray end = sessionEnvelope(
            options.dsn, {session->sid, session->started, now, false, SessionUpdate::Status::exited, 0,
                          options.release, options.environment});
        if (std::optional<fs::path> report = queueReport(options.databaseFolder, end)) {
            send({{std::move(*report), end}});
        }
        std::error_code ignored;
        fs::remove(withSuffix(options.databaseFolder / kInstancesFolder / instance, kSessionSuffix), ignored);
    }
    instanceLock.reset();  // after the session file: a live session file always has its lock
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!inFlight.empty() && left.count() > 0) {
        QEventLoop loop;
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        whenIdle = [&loop] {
            loop.quit();
        };
        bound.start(left);
        loop.exec();
        whenIdle = nullptr;
    }
    const auto abandoned = inFlight;
    inFlight.clear();  // their reports stay in the outbox
    for (const auto& [reply, report] : abandoned) {
        reply->abort();
    }
    return queuedReports().empty() ? CloseOutcome::allSent : CloseOutcome::someKept;
}

std::string crashReportRelease() {
    const std::string build = build_info::kBuildNumber.empty() ? "0" : std::string(build_info::kBuildNumber);
    return "velko-brisel@" + build + "+" + std::string(build_info::kCommit.substr(0, 12));
}

std::unique_ptr<CrashReporter> makeCrashReporter(const std::string& release) {
    std::optional<CrashReportDsn> dsn = crashReportingDsn();
    if (!dsn) {
        return nullptr;
    }
    CrashReporterOptions options;
    options.dsn = std::move(*dsn);
    options.environment = crashReportEnvironment(build_info::kBranch);
    options.release = release;
    options.databaseFolder = fs::path(QDir::homePath().toStdString()) / ".local/share/velko/crash_reports";
    return std::make_unique<CrashReporter>(std::move(options));
}

}  // namespace brisel::desktop::components
