// Where the update feed of this build lives: a path chosen by the branch on the feed host, a
// deployment value.
#pragma once

#include <QUrl>

#include <optional>
#include <string>
#include <string_view>

namespace brisel::desktop::components {

// The feed's path on the host: "LATEST_" + branch + "/briselcast.xml.rss" when the branch contains
// "release" anywhere; otherwise "STABLE/briselcast.xml.rss" for exactly "master"; otherwise
// "LATEST_develop/briselcast.xml.rss".
std::string updateFeedPath(std::string_view branch);

// The environment variable that replaces the build's feed host (tests and staging).
inline constexpr const char* kUpdateFeedHostVariable = "BRISEL_UPDATE_FEED_HOST";

// The feed host: the environment variable when set and not empty, else the build's value (empty
// when the build has none).
std::string updateFeedHost();

// "https://" + host + "/" + updateFeedPath(branch), where host may be "name:port". The one place that
// builds the feed address. None when the host is empty or the address is not valid (logged).
std::optional<QUrl> updateFeedUrl(std::string_view host, std::string_view branch);

// The feed of this build: updateFeedUrl(updateFeedHost(), the build's branch).
std::optional<QUrl> updateFeedUrl();

}  // namespace brisel::desktop::components
