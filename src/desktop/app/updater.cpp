#include "desktop/app/updater.h"

#include <QDebug>

namespace brisel::desktop::app {

void LoggingUpdater::setFeedURL(const QUrl& address) {
    feed = address;
}

void LoggingUpdater::checkForUpdates() {
    qInfo().noquote() << "Check for updates asked; no update checker in this build (feed"
                      << (feed ? feed->toString() : QStringLiteral("none")) + ")";
}

}  // namespace brisel::desktop::app
