// The update feed's format: an RSS 2.0 "appcast" whose items each offer one build for download
// (docs/update-feed.md). The feed comes from the network: everything in it is checked.
#pragma once

#include <QByteArray>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <tl/expected.hpp>

namespace brisel::desktop::components {

// The namespace of the feed's own elements.
inline constexpr const char* kAppcastNamespace = "urn:velko:update";

// One build on offer.
struct AppcastItem {
    std::string title;    // may be empty
    std::uint64_t build;  // the build number, above 0
    std::string version;  // the version shown to people; may be empty
    QUrl download;        // the enclosure: always an https address
};

// The longest field of an item, in characters (UTF-16 code units) after trimming where the field is
// trimmed. The feed as a whole may be 1 MiB; no field needs a fraction of that.
inline constexpr qsizetype kMaxAppcastTitleLength = 256;
inline constexpr qsizetype kMaxAppcastBuildLength = 32;
inline constexpr qsizetype kMaxAppcastVersionLength = 64;
inline constexpr qsizetype kMaxAppcastDownloadLength = 4096;

// The items of a feed, in document order. Items without a build number above 0, or without an https
// enclosure, are left out; so are items with a field longer than its cap above, each with a warning
// in the log. A feed of more than kMaxAppcastItems items keeps the first ones. Errors: a readable
// reason when the text is not well-formed XML or not an RSS document. Any thread.
inline constexpr std::size_t kMaxAppcastItems = 1000;
tl::expected<std::vector<AppcastItem>, std::string> parseAppcast(const QByteArray& document);

// The item with the highest build above `runningBuild`; the first of equals. None when there is none.
std::optional<AppcastItem> newestItemAbove(const std::vector<AppcastItem>& items, std::uint64_t runningBuild);

}  // namespace brisel::desktop::components
