// The update check behind "Check for Updates...": fetches the feed over HTTPS, picks the newest build
// above the running one and offers it. Nothing is installed: "Download" opens the build's address in
// the browser.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QSslCertificate>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "desktop/components/updates/appcast.h"

namespace brisel::desktop::components {

// What a check found.
struct UpdateCheckOutcome {
    enum class Kind { updateAvailable, upToDate, failed };
    Kind kind;
    std::optional<AppcastItem> item;  // updateAvailable: the build on offer
    std::string message;              // failed: what went wrong, readable
};

struct UpdateCheckerSettings {
    QUrl feedUrl;
    std::uint64_t runningBuild = 0;  // 0: a build without number, any build on offer is newer
    // Certificate authorities trusted besides the system's (tests' loopback servers).
    QList<QSslCertificate> extraCertificateAuthorities;
    // The longest silence of the feed server during one check.
    std::chrono::milliseconds transferTimeout{30000};
    // The most bytes a feed may have.
    qint64 maxFeedBytes = 1024 * 1024;
};

// Main thread only; completions run on the main thread.
class UpdateChecker {
  public:
    using Completion = std::function<void(const UpdateCheckOutcome&)>;

    explicit UpdateChecker(UpdateCheckerSettings settings);
    ~UpdateChecker();
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    QUrl feedURL() const { return settings.feedUrl; }
    void setFeedURL(const QUrl& url) { settings.feedUrl = url; }

    // Fetches the feed and reports once to `done`: the newest item above the running build, up to
    // date, or failed (transport error, HTTP status other than 2xx, more than maxFeedBytes, a feed that
    // does not parse). A check while one runs is refused (answers false, `done` is not called).
    // Destroying the checker abandons a running check without calling `done`.
    bool checkForUpdates(Completion done);

    // The build of this program (build_info.h), 0 when it has no number.
    static std::uint64_t thisBuild();

  private:
    UpdateCheckerSettings settings;
    QNetworkAccessManager network;
    std::shared_ptr<bool> running = std::make_shared<bool>(false);
};

// The alert that tells an outcome: an offer with "Download" (which calls `openDownload` with the
// build's address) and "Later", "You're up to date!", or the error. Main thread.
std::unique_ptr<QMessageBox> makeUpdateAlert(const UpdateCheckOutcome& outcome, std::uint64_t runningBuild,
                                             std::function<void(const QUrl&)> openDownload,
                                             QWidget* parent = nullptr);

// Makes the checker of this build, or none when the build has no feed host: then there is no updater
// and "Check for Updates..." does nothing.
std::unique_ptr<UpdateChecker> makeUpdateChecker();

// Checks with `checker` and shows the outcome in an alert; "Download" opens the browser. Main thread.
void checkForUpdatesAndTell(UpdateChecker& checker);

}  // namespace brisel::desktop::components
