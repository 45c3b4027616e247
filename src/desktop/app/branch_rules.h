// What the build's branch selects: the update feed and the crash-reporting environment, as Qt values
// (the rules themselves are the components').
#pragma once

#include <QString>
#include <QUrl>

namespace brisel::desktop::app {

// The branch this program was built from ("master" unless the build sets BRISEL_BRANCH).
QString branch();

// The update feed on the feed host (components::updateFeedUrl with the build's host, or the one the
// environment sets): "LATEST_<branch>/briselcast.xml.rss" when the branch contains "release"
// anywhere, "STABLE/briselcast.xml.rss" for exactly "master", else "LATEST_develop/briselcast.xml.rss".
// An empty address when there is no valid feed host (no updater).
QUrl feedAddress(const QString& branch);

// "release" when the branch begins with "release", "production" for exactly "master", else "develop".
QString crashReportingEnvironment(const QString& branch);

// The crash-reporting DSN: https, the project's public key as user, the ingestion host, the project
// number as path; empty for a build without ingestion host or project.
QString crashReportingDsn();

}  // namespace brisel::desktop::app
