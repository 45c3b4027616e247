// What the build's branch selects, and the "--feed-url" option of the real program.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "desktop/app/branch_rules.h"
#include "desktop/app/crash_reporter.h"
#include "desktop/components/updates/update_feed.h"
#include "support/temporary_folder.h"

namespace {

using namespace brisel::desktop::app;

TEST(BranchRules, FeedAndEnvironmentFollowTheBranch) {
    struct Row {
        QString branch;
        QString feedPath;
        QString environment;
    };
    const Row rows[] = {
        {"master", "/STABLE/briselcast.xml.rss", "production"},
        {"release-1.2", "/LATEST_release-1.2/briselcast.xml.rss", "release"},
        {"prerelease", "/LATEST_prerelease/briselcast.xml.rss", "develop"},
        {"feature/tray", "/LATEST_develop/briselcast.xml.rss", "develop"},
        {"master-copy", "/LATEST_develop/briselcast.xml.rss", "develop"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.branch.toStdString());
        const QUrl feed = feedAddress(row.branch);
        EXPECT_EQ(feed.scheme(), "https");
        EXPECT_EQ(feed.path(), row.feedPath);
        CrashReportingOptions options;
        configureCrashReporting(options, row.branch, "1.0");
        EXPECT_EQ(options.environment, row.environment);
        EXPECT_TRUE(options.enableAutoSessionTracking);
        EXPECT_TRUE(options.dsn.startsWith("https://7b3e0d5a91c4462f8e2ba6d01f9c3e58@"))
            << options.dsn.toStdString();
        EXPECT_TRUE(QUrl(options.dsn).isValid());
    }
}

// Without a display and in a network namespace of its own (so a wrongly started service could not
// reach the real port): one line, then the program ends.
TEST(BranchRules, FeedUrlOptionPrintsOneLineWithoutADisplay) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(environment);
    program.start("unshare", {"-rn", BRISEL_APPLICATION, "--feed-url"});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    EXPECT_EQ(program.readAllStandardOutput(),
              "Feed URL: " + feedAddress(branch()).toString().toUtf8() + "\n");
    EXPECT_EQ(program.readAllStandardError().indexOf("Started"), -1);
}

// The feed host may carry a port, and a host in the environment replaces the build's: in the launch
// sequence's address and in what "--feed-url" prints. A host that makes no address means no updater.
TEST(BranchRules, FeedHostWithPortAndTheEnvironmentsHostMakeTheFeedAddress) {
    const QString path =
        u'/' + QString::fromStdString(brisel::desktop::components::updateFeedPath(branch().toStdString()));
    for (const auto& [host, feed] : std::vector<std::pair<const char*, QString>>{
             {"127.0.0.1:8443", "https://127.0.0.1:8443" + path},
             {"updates.example.org", "https://updates.example.org" + path},
             {"not a host", ""}}) {
        SCOPED_TRACE(host);
        const brisel::test_support::ScopedEnvironment overridden("BRISEL_UPDATE_FEED_HOST", host);
        EXPECT_EQ(feedAddress(branch()).toString().toStdString(), feed.toStdString());
        QProcess program;
        program.start("unshare", {"-rn", BRISEL_APPLICATION, "--feed-url"});
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(
            program.readAllStandardOutput().toStdString(),
            "Feed URL: " + (feed.isEmpty() ? std::string("NO FEED URL FOUND") : feed.toStdString()) + "\n");
    }
}

}  // namespace
