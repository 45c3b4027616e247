// Crash reporting against a loopback ingestion endpoint, with a helper program that crashes.
#include "desktop/components/crash_reports/crash_reporter.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <QUuid>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "components/loopback_https_server.h"
#include "desktop/components/crash_reports/crash_marker.h"
#include "support/event_wait.h"
#include "support/raw_tcp_server.h"
#include "support/temporary_folder.h"

namespace brisel::desktop::components {
namespace {

namespace fs = std::filesystem;
constexpr const char* kEnvelopePath = "/api/42/envelope/";

struct Endpoint {
    test::LoopbackHttpsServer server;
    Endpoint() { server.answer(kEnvelopePath, {200, "{}", "application/json"}); }
    std::string dsn() const {
        return "https://" + std::string(kCrashReportPublicKey) + "@" + server.hostAndPort() + "/42";
    }
};

CrashReporterOptions optionsFor(const std::string& dsn, const fs::path& folder) {
    CrashReporterOptions options;
    options.dsn = *CrashReportDsn::parse(dsn);
    options.environment = "production";
    options.release = "velko-brisel@57+0123456789ab";
    options.databaseFolder = folder;
    options.extraCertificateAuthorities = test::LoopbackHttpsServer::certificateAuthority();
    return options;
}

// The payloads of the items of `type` in all envelopes the server received.
std::vector<QJsonObject> received(const test::LoopbackHttpsServer& server, const QString& type) {
    std::vector<QJsonObject> payloads;
    for (const test::RecordedRequest& request : server.requests()) {
        const QList<QByteArray> lines = QByteArray::fromStdString(request.body).split('\n');
        for (qsizetype index = 1; index + 1 < lines.size(); index += 2) {
            if (QJsonDocument::fromJson(lines[index]).object().value(QStringLiteral("type")).toString() ==
                type) {
                payloads.push_back(QJsonDocument::fromJson(lines[index + 1]).object());
            }
        }
    }
    return payloads;
}

// The files of the running instances that end in `suffix` (".session", ".marker", ".lock").
std::vector<fs::path> instanceFiles(const fs::path& folder, const std::string& suffix) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder / "running", error)) {
        if (entry.path().extension() == suffix) {
            files.push_back(entry.path());
        }
    }
    return files;
}

// Until what earlier runs left is reported and every send has finished.
bool waitUntilSent(const CrashReporter& reporter) {
    return desktop_test::waitUntil(
        [&] { return !reporter.reportingEarlierRuns() && reporter.sendsInFlight() == 0; });
}

TEST(CrashReportDsn, StandardFormEnvironmentAndBuildValues) {
    const auto dsn = crashReportingDsn("o123.ingest.example.org", "4505");
    ASSERT_TRUE(dsn);
    EXPECT_EQ(dsn->text(), "https://7b3e0d5a91c4462f8e2ba6d01f9c3e58@o123.ingest.example.org/4505");
    EXPECT_EQ(dsn->envelopeUrl().toString().toStdString(),
              "https://o123.ingest.example.org/api/4505/envelope/");
    EXPECT_EQ(
        dsn->authHeader().rfind("Sentry sentry_version=7, sentry_key=7b3e0d5a91c4462f8e2ba6d01f9c3e58, ", 0),
        0U);
    EXPECT_FALSE(crashReportingDsn("", "4505"));
    for (const char* bad :
         {"ftp://k@h/1", "https://h/1", "https://k@h/", "https://k@h/1/2", "https://k:s@h/1"}) {
        EXPECT_FALSE(CrashReportDsn::parse(bad)) << bad;
    }
    EXPECT_EQ(CrashReportDsn::parse("https://k@127.0.0.1:8443/42")->host, "127.0.0.1:8443");
    for (const auto& [branch, environment] :
         std::vector<std::pair<std::string, std::string>>{{"master", "production"},
                                                          {"release-1.2", "release"},
                                                          {"prerelease", "develop"},
                                                          {"develop", "develop"}}) {
        EXPECT_EQ(crashReportEnvironment(branch), environment) << branch;
    }
    const test_support::ScopedEnvironment host(kCrashReportHostVariable, "127.0.0.1:9");
    const test_support::ScopedEnvironment project(kCrashReportProjectVariable, "42");
    EXPECT_EQ(crashReportingDsn()->text(), "https://7b3e0d5a91c4462f8e2ba6d01f9c3e58@127.0.0.1:9/42");
    EXPECT_NE(makeCrashReporter(crashReportRelease()), nullptr);
}

TEST(CrashReporter, SessionStartAndEndCarryEnvironmentReleaseAndTheKey) {
    const test_support::TemporaryFolder folder;
    Endpoint endpoint;
    CrashReporter reporter(optionsFor(endpoint.dsn(), folder.path()));
    reporter.start();
    ASSERT_TRUE(waitUntilSent(reporter));
    EXPECT_EQ(reporter.close(), CrashReporter::CloseOutcome::allSent);

    const auto sessions = received(endpoint.server, QStringLiteral("session"));
    ASSERT_EQ(sessions.size(), 2U);
    EXPECT_EQ(sessions[0].value(QStringLiteral("init")).toBool(), true);
    EXPECT_EQ(sessions[0].value(QStringLiteral("status")).toString(), QStringLiteral("ok"));
    EXPECT_EQ(sessions[1].value(QStringLiteral("status")).toString(), QStringLiteral("exited"));
    for (const QJsonObject& session : sessions) {
        EXPECT_EQ(session.value(QStringLiteral("sid")).toString(), reporter.sessionId());
        const QJsonObject attributes = session.value(QStringLiteral("attrs")).toObject();
        EXPECT_EQ(attributes.value(QStringLiteral("environment")).toString(), QStringLiteral("production"));
        EXPECT_EQ(attributes.value(QStringLiteral("release")).toString(),
                  QStringLiteral("velko-brisel@57+0123456789ab"));
    }
    for (const test::RecordedRequest& request : endpoint.server.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, kEnvelopePath);
        EXPECT_NE(request.headers.at("x-sentry-auth").find("sentry_key=7b3e0d5a91c4462f8e2ba6d01f9c3e58"),
                  std::string::npos);
    }
    EXPECT_TRUE(reporter.queuedReports().empty());
}

TEST(CrashReporter, AHelperThatCrashedIsReportedAtTheNextStart) {
    struct Row {
        const char* how;
        const char* type;
        const char* value;
    };
    for (const Row& row :
         {Row{"abort", "SIGABRT", "Aborted"}, Row{"segv", "SIGSEGV", "Segmentation fault"}}) {
        SCOPED_TRACE(row.how);
        const test_support::TemporaryFolder folder;
        const brisel::test::ClosedPort down;  // the helper's reports cannot go out
        QProcess helper;
        helper.start(
            QStringLiteral(BRISEL_CRASH_HELPER),
            {QString::fromStdString(folder.path().string()),
             QStringLiteral("https://k@127.0.0.1:%1/42").arg(down.port()), QString::fromLatin1(row.how)});
        ASSERT_TRUE(helper.waitForFinished(60000));
        EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
        const QString helperSession = QString::fromUtf8(helper.readAllStandardOutput()).trimmed();
        ASSERT_EQ(instanceFiles(folder.path(), ".marker").size(), 1U);

        Endpoint endpoint;
        CrashReporter reporter(optionsFor(endpoint.dsn(), folder.path()));
        reporter.start();
        ASSERT_TRUE(waitUntilSent(reporter));
        const auto events = received(endpoint.server, QStringLiteral("event"));
        ASSERT_EQ(events.size(), 1U);
        EXPECT_EQ(events[0].value(QStringLiteral("level")).toString(), QStringLiteral("fatal"));
        EXPECT_EQ(events[0].value(QStringLiteral("release")).toString(),
                  QStringLiteral("velko-brisel@7+helper"));
        const QJsonObject exception = events[0]
                                          .value(QStringLiteral("exception"))
                                          .toObject()
                                          .value(QStringLiteral("values"))
                                          .toArray()[0]
                                          .toObject();
        EXPECT_EQ(exception.value(QStringLiteral("type")).toString(), QString::fromLatin1(row.type));
        EXPECT_EQ(exception.value(QStringLiteral("value")).toString(), QString::fromLatin1(row.value));
        const QJsonArray frames = exception.value(QStringLiteral("stacktrace"))
                                      .toObject()
                                      .value(QStringLiteral("frames"))
                                      .toArray();
        bool named = false;
        for (const QJsonValue& value : frames) {
            const QJsonObject frame = value.toObject();
            // The function or its .cold part, with its source line from the debugging information.
            named = named || (frame.value(QStringLiteral("function"))
                                  .toString()
                                  .startsWith(QStringLiteral("velkoCrashHelperDiesNow")) &&
                              frame.value(QStringLiteral("filename"))
                                  .toString()
                                  .endsWith(QStringLiteral("crash_helper_main.cpp")) &&
                              frame.value(QStringLiteral("lineno")).toInt() > 0);
        }
        EXPECT_TRUE(named) << QJsonDocument(frames).toJson().toStdString();

        const auto sessions = received(endpoint.server, QStringLiteral("session"));
        const auto crashed = std::find_if(sessions.begin(), sessions.end(), [](const QJsonObject& session) {
            return session.value(QStringLiteral("status")).toString() == QStringLiteral("crashed");
        });
        ASSERT_NE(crashed, sessions.end());
        EXPECT_EQ(crashed->value(QStringLiteral("sid")).toString(), helperSession);
        EXPECT_EQ(crashed->value(QStringLiteral("errors")).toInt(), 1);
        const auto helperStart =
            std::count_if(sessions.begin(), sessions.end(), [&](const QJsonObject& session) {
                return session.value(QStringLiteral("sid")).toString() == helperSession &&
                       session.value(QStringLiteral("init")).toBool();
            });
        EXPECT_EQ(helperStart, 1) << "the helper's unsent session start goes out now";
        EXPECT_TRUE(instanceFiles(folder.path(), ".marker").empty());
        reporter.close();
    }
}

// Instances that run at once (one user in two graphical sessions) share the folder: a start sets aside
// neither the session of a live instance nor, when that instance quits, the one of the start; a gone
// instance's files, and the one session file that older builds kept, are reported at the next start.
TEST(CrashReporter, AStartReportsOnlyTheSessionsOfInstancesThatAreGone) {
    const test_support::TemporaryFolder folder;
    const brisel::test::ClosedPort down;  // the helpers' reports wait in the outbox
    const QString unreachable = QStringLiteral("https://k@127.0.0.1:%1/42").arg(down.port());
    const QString olderBuildSession = QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::ofstream(folder.path() / "session.json")
        << QJsonDocument(QJsonObject{{"sid", olderBuildSession},
                                     {"started", "2026-12-01T10:00:00.000Z"},
                                     {"release", "velko-brisel@6+older"},
                                     {"environment", "production"}})
               .toJson()
               .toStdString();
    const auto startHelper = [&](QProcess& helper, const char* how) {
        helper.start(QStringLiteral(BRISEL_CRASH_HELPER),
                     {QString::fromStdString(folder.path().string()), unreachable, QString::fromLatin1(how)});
        QByteArray printed;
        EXPECT_TRUE(desktop_test::waitUntil([&] {
            printed += helper.readAllStandardOutput();
            return printed.contains('\n');
        }));
        return QString::fromUtf8(printed).trimmed();
    };
    // Both start before this process has threads: a process started later would stop the thread sanitizer
    // from letting this one start threads again.
    QProcess other;
    const QString otherSession = startHelper(other, "quit-when-told");
    QProcess crashed;
    const QString crashedSession = startHelper(crashed, "abort-when-told");

    Endpoint endpoint;
    std::optional<CrashReporter> reporter(std::in_place, optionsFor(endpoint.dsn(), folder.path()));
    reporter->start();
    ASSERT_TRUE(waitUntilSent(*reporter));
    EXPECT_EQ(instanceFiles(folder.path(), ".session").size(), 3U) << "the live instances' stay";
    other.write("quit\n");
    ASSERT_TRUE(other.waitForFinished(60000));
    EXPECT_EQ(other.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(instanceFiles(folder.path(), ".session").size(), 2U) << "its quit leaves the others'";
    crashed.closeWriteChannel();
    ASSERT_TRUE(crashed.waitForFinished(60000));
    const QString firstSession = reporter->sessionId();
    reporter->close();

    reporter.emplace(optionsFor(endpoint.dsn(), folder.path()));
    reporter->start();
    ASSERT_TRUE(waitUntilSent(*reporter));
    std::map<QString, QString> endings;  // by session: the statuses of its updates
    for (const QJsonObject& update : received(endpoint.server, QStringLiteral("session"))) {
        if (!update.value(QStringLiteral("init")).toBool()) {
            endings[update.value(QStringLiteral("sid")).toString()] +=
                update.value(QStringLiteral("status")).toString();
        }
    }
    EXPECT_EQ(endings, (std::map<QString, QString>{{olderBuildSession, "abnormal"},
                                                   {otherSession, "exited"},
                                                   {crashedSession, "crashed"},
                                                   {firstSession, "exited"}}));
    EXPECT_EQ(received(endpoint.server, QStringLiteral("event")).size(), 1U);
    reporter->close();
    EXPECT_TRUE(instanceFiles(folder.path(), ".lock").empty());
}

// What a crash left is reported once, at a later start, however far an earlier start got with it: one
// closed at once (its worker stopped, or its report unsent), or one that ended while it named the frames
// (it may have crashed doing so: the frames then go with addresses only).
TEST(CrashReporter, ACrashIsReportedOnceHoweverFarAnEarlierStartGotWithIt) {
    for (const bool namingCutShort : {false, true}) {
        SCOPED_TRACE(namingCutShort ? "naming cut short" : "closed at once");
        const test_support::TemporaryFolder folder;
        const brisel::test::ClosedPort down;
        const std::string unreachable = "https://k@127.0.0.1:" + std::to_string(down.port()) + "/42";
        QProcess helper;
        helper.start(QStringLiteral(BRISEL_CRASH_HELPER), {QString::fromStdString(folder.path().string()),
                                                           QString::fromStdString(unreachable), "segv"});
        ASSERT_TRUE(helper.waitForFinished(60000));
        if (namingCutShort) {
            fs::create_directories(folder.path() / "unreported");
            ASSERT_EQ(instanceFiles(folder.path(), ".marker").size(), 1U);
            fs::rename(instanceFiles(folder.path(), ".marker")[0],
                       folder.path() / "unreported/1700000000000-000001-0a1b2c3d.naming");
        } else {
            CrashReporter(optionsFor(unreachable, folder.path())).start();  // and closed at once
        }

        Endpoint endpoint;
        CrashReporter reporter(optionsFor(endpoint.dsn(), folder.path()));
        reporter.start();
        ASSERT_TRUE(waitUntilSent(reporter));
        const auto events = received(endpoint.server, QStringLiteral("event"));
        ASSERT_EQ(events.size(), 1U);
        const QJsonArray frames = events[0]["exception"]["values"][0]["stacktrace"]["frames"].toArray();
        EXPECT_EQ(std::any_of(frames.begin(), frames.end(),
                              [](const QJsonValue& frame) { return frame.toObject().contains("function"); }),
                  !namingCutShort);
        EXPECT_TRUE(fs::is_empty(folder.path() / "unreported"));
        reporter.close();
    }
}

// Naming frames can take long (large debugging information on a slow disk): quitting does not wait for
// it beyond the bound, and what the crash left is still reported.
TEST(CrashReporter, QuittingLeavesAWorkerStillNamingFramesBehindAndTheCrashIsReportedAfterwards) {
    const test_support::TemporaryFolder folder;
    const brisel::test::ClosedPort down;
    QProcess helper;
    helper.start(QStringLiteral(BRISEL_CRASH_HELPER),
                 {QString::fromStdString(folder.path().string()),
                  QStringLiteral("https://k@127.0.0.1:%1/42").arg(down.port()), QStringLiteral("segv")});
    ASSERT_TRUE(helper.waitForFinished(60000));

    Endpoint endpoint;
    std::promise<void> release;
    const auto naming = std::make_shared<std::atomic<bool>>(false);
    {
        CrashReporterOptions options = optionsFor(endpoint.dsn(), folder.path());
        options.closeBound = std::chrono::milliseconds(200);
        options.nameFrames = [naming, released = release.get_future().share()](CrashMarker&,
                                                                               std::stop_token) {
            *naming = true;
            released.wait();  // deaf to the stop, as a frame in the middle of its naming is
            return true;
        };
        CrashReporter reporter(options);
        reporter.start();
        ASSERT_TRUE(desktop_test::waitUntil([&] { return naming->load(); }));
        EXPECT_EQ(reporter.close(), CrashReporter::CloseOutcome::someKept) << "the session's end waits";
        EXPECT_FALSE(fs::is_empty(folder.path() / "unreported")) << "what the crash left is still there";
    }  // the reporter is gone while its worker still names
    release.set_value();
    ASSERT_TRUE(desktop_test::waitUntil([&] { return fs::is_empty(folder.path() / "unreported"); }))
        << "the worker left behind finishes its report on its own";

    CrashReporter reporter(optionsFor(endpoint.dsn(), folder.path()));
    reporter.start();
    ASSERT_TRUE(waitUntilSent(reporter));
    EXPECT_EQ(received(endpoint.server, QStringLiteral("event")).size(), 1U);
    EXPECT_EQ(reporter.close(), CrashReporter::CloseOutcome::allSent);
}

TEST(CrashReporter, ReportsWaitWhileTheEndpointIsDownAndQuittingStaysWithinTheBound) {
    const test_support::TemporaryFolder folder;
    {
        const brisel::test::ClosedPort down;
        CrashReporter reporter(
            optionsFor("https://k@127.0.0.1:" + std::to_string(down.port()) + "/42", folder.path()));
        reporter.start();
        ASSERT_TRUE(waitUntilSent(reporter));
        EXPECT_EQ(reporter.queuedReports().size(), 1U);
        EXPECT_EQ(reporter.close(), CrashReporter::CloseOutcome::someKept);
        EXPECT_EQ(reporter.queuedReports().size(), 2U) << "session start and end wait";
    }
    {
        const brisel::test::RawTcpServer silent({{brisel::test::RawExchange::Reading::headerOnly, "",
                                                  brisel::test::RawExchange::Ending::stayOpen}});
        CrashReporterOptions options = optionsFor("https://" + std::string(kCrashReportPublicKey) +
                                                      "@127.0.0.1:" + std::to_string(silent.port()) + "/42",
                                                  folder.path());
        CrashReporter reporter(options);
        reporter.start();
        QElapsedTimer quitting;
        quitting.start();
        EXPECT_EQ(reporter.close(), CrashReporter::CloseOutcome::someKept);
        std::printf("close() with a silent endpoint took %lld ms (bound %lld ms)\n",
                    static_cast<long long>(quitting.elapsed()),
                    static_cast<long long>(options.closeBound.count()));
        EXPECT_EQ(reporter.queuedReports().size(), 4U);
    }
    Endpoint endpoint;
    CrashReporter reporter(optionsFor(endpoint.dsn(), folder.path()));
    reporter.start();
    ASSERT_TRUE(waitUntilSent(reporter));
    EXPECT_TRUE(reporter.queuedReports().empty());
    const auto sessions = received(endpoint.server, QStringLiteral("session"));
    EXPECT_EQ(sessions.size(), 5U) << "two earlier runs' starts and ends, and this start";
    reporter.close();
}

}  // namespace
}  // namespace brisel::desktop::components
