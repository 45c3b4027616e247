// Update checks against a loopback HTTPS feed server.
#include "desktop/components/updates/update_checker.h"

#include <gtest/gtest.h>

#include <QPushButton>

#include <optional>
#include <string>
#include <vector>

#include "components/loopback_https_server.h"
#include "desktop/components/build_info.h"
#include "desktop/components/updates/update_feed.h"
#include "support/event_wait.h"
#include "support/temporary_folder.h"

namespace brisel::desktop::components {
namespace {

using Kind = UpdateCheckOutcome::Kind;

std::string feed(const std::vector<std::pair<int, std::string>>& builds) {
    std::string items;
    for (const auto& [build, url] : builds) {
        items += "<item><title>Velko Brisel " + std::to_string(build) + "</title><velko:build>" +
                 std::to_string(build) + "</velko:build><velko:version>1." + std::to_string(build) +
                 "</velko:version><enclosure url=\"" + url +
                 "\" length=\"10\" type=\"application/gzip\"/></item>";
    }
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\" xmlns:velko=\"urn:velko:update\">"
           "<channel><title>Velko Brisel</title>" +
           items + "</channel></rss>";
}

TEST(UpdateFeed, PathFollowsTheBranchAndTheHostIsADeploymentValue) {
    struct Row {
        std::string_view branch;
        std::string path;
    };
    for (const Row& row : std::vector<Row>{
             {"master", "STABLE/briselcast.xml.rss"},
             {"release-1.2", "LATEST_release-1.2/briselcast.xml.rss"},
             {"prerelease", "LATEST_prerelease/briselcast.xml.rss"},
             {"develop", "LATEST_develop/briselcast.xml.rss"},
             {"feature/tray", "LATEST_develop/briselcast.xml.rss"},
         }) {
        EXPECT_EQ(updateFeedPath(row.branch), row.path) << row.branch;
    }
    EXPECT_EQ(updateFeedUrl("updates.example.org", "master")->toString().toStdString(),
              "https://updates.example.org/STABLE/briselcast.xml.rss");
    EXPECT_FALSE(updateFeedUrl("", "master"));

    const test_support::ScopedEnvironment noOverride(kUpdateFeedHostVariable, std::nullopt);
    EXPECT_EQ(updateFeedHost(), std::string(build_info::kUpdateFeedHost));
    if (build_info::kUpdateFeedHost.empty()) {
        EXPECT_EQ(makeUpdateChecker(), nullptr) << "no feed host: no updater";
    }
    const test_support::ScopedEnvironment overridden(kUpdateFeedHostVariable, "127.0.0.1:8443");
    ASSERT_NE(makeUpdateChecker(), nullptr);
    EXPECT_EQ(makeUpdateChecker()->feedURL().toString().toStdString(),
              "https://127.0.0.1:8443/" + updateFeedPath(build_info::kBranch));
}

TEST(UpdateChecker, OffersTheNewestBuildAboveTheRunningOneOrSaysWhy) {
    test::LoopbackHttpsServer server;
    const test_support::ScopedEnvironment host(kUpdateFeedHostVariable, server.hostAndPort());
    const std::string path = "/" + updateFeedPath(build_info::kBranch);
    const std::string download = "https://downloads.example.org/velko-brisel-12.tar.gz";

    struct Row {
        const char* label;
        test::LoopbackHttpsServer::Answer answer;
        bool trusted;
        Kind kind;
        std::uint64_t offered;    // updateAvailable
        std::string messagePart;  // failed
    };
    const std::vector<Row> rows{
        {"a newer item",
         {200, feed({{5, download}, {12, download}, {9, download}, {30, "http://plain.example.org/x"}}),
          "application/rss+xml"},
         true,
         Kind::updateAvailable,
         12,
         ""},
        {"only older or equal items",
         {200, feed({{10, download}, {3, download}}), "application/rss+xml"},
         true,
         Kind::upToDate,
         0,
         ""},
        {"no items", {200, feed({}), "application/rss+xml"}, true, Kind::upToDate, 0, ""},
        {"404", {404, "gone", "text/plain"}, true, Kind::failed, 0, "HTTP 404"},
        {"malformed XML",
         {200, "<rss><channel><item></channel>", "application/rss+xml"},
         true,
         Kind::failed,
         0,
         "not valid"},
        {"not RSS", {200, "<html></html>", "text/html"}, true, Kind::failed, 0, "not an RSS document"},
        {"an untrusted certificate",
         {200, feed({{12, download}}), "application/rss+xml"},
         false,
         Kind::failed,
         0,
         "could not be read"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        server.answer(path, row.answer);
        UpdateCheckerSettings settings;
        settings.feedUrl = *updateFeedUrl();
        settings.runningBuild = 10;
        if (row.trusted) {
            settings.extraCertificateAuthorities = test::LoopbackHttpsServer::certificateAuthority();
        }
        UpdateChecker checker(settings);
        std::optional<UpdateCheckOutcome> outcome;
        ASSERT_TRUE(checker.checkForUpdates([&](const UpdateCheckOutcome& found) { outcome = found; }));
        EXPECT_FALSE(checker.checkForUpdates([](const UpdateCheckOutcome&) {})) << "one check at a time";
        ASSERT_TRUE(desktop_test::waitUntil([&] { return outcome.has_value(); }));
        EXPECT_EQ(outcome->kind, row.kind) << outcome->message;
        if (row.kind == Kind::updateAvailable) {
            EXPECT_EQ(outcome->item->build, row.offered);
            EXPECT_EQ(outcome->item->download.toString().toStdString(), download);
        }
        EXPECT_NE(outcome->message.find(row.messagePart), std::string::npos) << outcome->message;
    }
    EXPECT_FALSE(server.requests().empty());
    EXPECT_EQ(server.requests().back().path, path);
}

TEST(UpdateChecker, TheAlertOffersTheDownloadInTheBrowserOrTellsTheOutcome) {
    const AppcastItem item{"Velko Brisel 12", 12, "1.12",
                           QUrl(QStringLiteral("https://downloads.example.org/v12"))};
    std::vector<QUrl> opened;
    auto offer = makeUpdateAlert({Kind::updateAvailable, item, {}}, 10,
                                 [&](const QUrl& url) { opened.push_back(url); });
    EXPECT_TRUE(
        offer->informativeText().contains(QStringLiteral("1.12, build 12 is available; you have build 10")));
    QPushButton* download = nullptr;
    for (QAbstractButton* button : offer->buttons()) {
        if (button->text() == QStringLiteral("Download")) {
            download = qobject_cast<QPushButton*>(button);
        }
    }
    ASSERT_NE(download, nullptr);
    download->click();
    ASSERT_EQ(opened.size(), 1U);
    EXPECT_EQ(opened[0], item.download);

    EXPECT_EQ(makeUpdateAlert({Kind::upToDate, std::nullopt, {}}, 10, {})->text(),
              QStringLiteral("You're up to date!"));
    const auto failed =
        makeUpdateAlert({Kind::failed, std::nullopt, "The update feed answered HTTP 404."}, 10, {});
    EXPECT_EQ(failed->informativeText(), QStringLiteral("The update feed answered HTTP 404."));
}

}  // namespace
}  // namespace brisel::desktop::components
