#include "desktop/components/updates/update_checker.h"

#include <QDesktopServices>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QSslConfiguration>

#include <charconv>
#include <utility>

#include "desktop/components/build_info.h"
#include "desktop/components/updates/update_feed.h"
#include "desktop/components/windows/plain_message_box.h"

namespace brisel::desktop::components {

namespace {

UpdateCheckOutcome failure(std::string message) {
    return {UpdateCheckOutcome::Kind::failed, std::nullopt, std::move(message)};
}

std::string buildText(std::uint64_t build) {
    return build == 0 ? "no build" : "build " + std::to_string(build);
}

}  // namespace

UpdateChecker::UpdateChecker(UpdateCheckerSettings checkerSettings) : settings(std::move(checkerSettings)) {}

UpdateChecker::~UpdateChecker() {
    *running = false;
}

std::uint64_t UpdateChecker::thisBuild() {
    std::uint64_t build = 0;
    const std::string_view text = build_info::kBuildNumber;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), build);
    return error == std::errc() && end == text.data() + text.size() ? build : 0;
}

bool UpdateChecker::checkForUpdates(Completion done) {
    if (*running) {
        return false;
    }
    QNetworkRequest request(settings.feedUrl);
    request.setTransferTimeout(static_cast<int>(settings.transferTimeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    if (!settings.extraCertificateAuthorities.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(settings.extraCertificateAuthorities);
        request.setSslConfiguration(tls);
    }
    *running = true;
    QNetworkReply* reply = network.get(request);  // owned by `network`; deleted below
    const qint64 maxBytes = settings.maxFeedBytes;
    const std::uint64_t runningBuild = settings.runningBuild;
    const auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, maxBytes, tooLarge](qint64 received, qint64) {
                         if (received > maxBytes && !*tooLarge) {
                             *tooLarge = true;
                             reply->abort();
                         }
                     });
    QObject::connect(
        reply, &QNetworkReply::finished, reply,
        [reply, maxBytes, runningBuild, tooLarge, running = running, done = std::move(done)] {
            reply->deleteLater();
            if (!*running) {
                return;  // the checker is gone
            }
            *running = false;
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (*tooLarge) {
                done(failure("The update feed is larger than " + std::to_string(maxBytes) + " bytes."));
                return;
            }
            if (status != 0 && (status < 200 || status > 299)) {
                done(failure("The update feed answered HTTP " + std::to_string(status) + "."));
                return;
            }
            if (reply->error() != QNetworkReply::NoError) {
                done(failure("The update feed could not be read: " + reply->errorString().toStdString()));
                return;
            }
            const auto items = parseAppcast(reply->readAll());
            if (!items) {
                done(failure("The update feed is not valid: " + items.error()));
                return;
            }
            std::optional<AppcastItem> newest = newestItemAbove(*items, runningBuild);
            if (!newest) {
                done({UpdateCheckOutcome::Kind::upToDate, std::nullopt, {}});
                return;
            }
            done({UpdateCheckOutcome::Kind::updateAvailable, std::move(newest), {}});
        });
    return true;
}

std::unique_ptr<QMessageBox> makeUpdateAlert(const UpdateCheckOutcome& outcome, std::uint64_t runningBuild,
                                             std::function<void(const QUrl&)> openDownload, QWidget* parent) {
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setWindowTitle(QStringLiteral("Software Update"));
    switch (outcome.kind) {
        case UpdateCheckOutcome::Kind::updateAvailable: {
            const AppcastItem& item = *outcome.item;
            alert->setIcon(QMessageBox::Information);
            alert->setText(QStringLiteral("A new version of Velko Brisel is available."));
            const std::string version = item.version.empty() ? "" : item.version + ", ";
            setPlainInformativeText(
                *alert, QString::fromStdString(version + buildText(item.build) + " is available; you have " +
                                               buildText(runningBuild) + ".\n" +
                                               item.download.toString().toStdString()));
            QPushButton* download = alert->addButton(QStringLiteral("Download"), QMessageBox::AcceptRole);
            alert->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
            QObject::connect(download, &QPushButton::clicked, alert.get(),
                             [url = item.download, open = std::move(openDownload)] { open(url); });
            break;
        }
        case UpdateCheckOutcome::Kind::upToDate:
            alert->setIcon(QMessageBox::Information);
            alert->setText(QStringLiteral("You're up to date!"));
            setPlainInformativeText(*alert, QString::fromStdString("Velko Brisel " + buildText(runningBuild) +
                                                                   " is the newest version available."));
            alert->addButton(QMessageBox::Ok);
            break;
        case UpdateCheckOutcome::Kind::failed:
            alert->setIcon(QMessageBox::Warning);
            alert->setText(QStringLiteral("Update Error!"));
            setPlainInformativeText(*alert, QString::fromStdString(outcome.message));
            alert->addButton(QMessageBox::Ok);
            break;
    }
    return alert;
}

std::unique_ptr<UpdateChecker> makeUpdateChecker() {
    std::optional<QUrl> feed = updateFeedUrl();
    if (!feed) {
        return nullptr;
    }
    UpdateCheckerSettings settings;
    settings.feedUrl = *feed;
    settings.runningBuild = UpdateChecker::thisBuild();
    return std::make_unique<UpdateChecker>(std::move(settings));
}

void checkForUpdatesAndTell(UpdateChecker& checker) {
    checker.checkForUpdates([](const UpdateCheckOutcome& outcome) {
        auto alert = makeUpdateAlert(outcome, UpdateChecker::thisBuild(),
                                     [](const QUrl& url) { QDesktopServices::openUrl(url); });
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert.release()->show();  // deletes itself when closed
    });
}

}  // namespace brisel::desktop::components
