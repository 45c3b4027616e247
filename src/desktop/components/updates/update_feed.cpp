#include "desktop/components/updates/update_feed.h"

#include <QDebug>

#include <cstdlib>

#include "desktop/components/build_info.h"

namespace brisel::desktop::components {

std::string updateFeedPath(std::string_view branch) {
    if (branch.find("release") != std::string_view::npos) {
        return "LATEST_" + std::string(branch) + "/briselcast.xml.rss";
    }
    if (branch == "master") {
        return "STABLE/briselcast.xml.rss";
    }
    return "LATEST_develop/briselcast.xml.rss";
}

std::string updateFeedHost() {
    const char* overridden = std::getenv(kUpdateFeedHostVariable);
    if (overridden != nullptr && overridden[0] != '\0') {
        return overridden;
    }
    return std::string(build_info::kUpdateFeedHost);
}

std::optional<QUrl> updateFeedUrl(std::string_view host, std::string_view branch) {
    if (host.empty()) {
        return std::nullopt;
    }
    const QUrl url(QString::fromStdString("https://" + std::string(host) + "/" + updateFeedPath(branch)),
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        qWarning().noquote() << QStringLiteral(
                                    "The update feed host \"%1\" is neither a host name nor host:port, "
                                    "so there are no update checks; set %2 to a valid one")
                                    .arg(QString::fromStdString(std::string(host)),
                                         QString::fromLatin1(kUpdateFeedHostVariable));
        return std::nullopt;
    }
    return url;
}

std::optional<QUrl> updateFeedUrl() {
    return updateFeedUrl(updateFeedHost(), build_info::kBranch);
}

}  // namespace brisel::desktop::components
