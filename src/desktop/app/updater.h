// The seam of the update framework. The launch sequence points the updater at the branch's feed, the
// "--feed-url" option prints that address and the menu's "Check for Updates" asks for a check. main.cpp
// puts the update checker of src/desktop/components/updates behind it.
#pragma once

#include <QUrl>
#include <optional>

namespace brisel::desktop::app {

class Updater {
  public:
    virtual ~Updater() = default;
    // Sets the feed that later checks read. Main thread.
    virtual void setFeedURL(const QUrl& feed) = 0;
    // The feed set last; none before the first setFeedURL.
    virtual std::optional<QUrl> feedURL() const = 0;
    // Starts a check for updates; it reports to the user itself. Main thread; returns at once.
    virtual void checkForUpdates() = 0;
};

}  // namespace brisel::desktop::app
