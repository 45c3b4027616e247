#include "desktop/components/logs/log_view_controller.h"

#include <QDebug>
#include <QHideEvent>
#include <QPointer>
#include <QVBoxLayout>

#include <type_traits>
#include <utility>

#include "desktop/components/file_events/file_event_watchers.h"

namespace brisel::desktop::components {

LogViewController::LogViewController(std::filesystem::path logFile, QWidget* parent)
    : QWidget(parent),
      file(std::move(logFile)),
      logWindow(new LogLinesView(this)),
      statusLine(new QStatusBar(this)),
      unwatchedLooks(new QTimer(this)) {
    setWindowTitle(QStringLiteral("Logs"));
    resize(900, 600);
    auto* layout = new QVBoxLayout(this);  // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(logWindow);
    layout->addWidget(statusLine);
    statusLine->setSizeGripEnabled(false);
    logWindow->setCopyReport([this](const CopiedLines& lines) { copied(lines); });
    unwatchedLooks->setInterval(kUnwatchedLookInterval);
    connect(unwatchedLooks, &QTimer::timeout, this, [this] { fileChanged(); });

    follower =
        std::make_unique<LogFileFollower>(file, [this](LogFileChange change) { apply(std::move(change)); });
    startWatch();
}

LogViewController::~LogViewController() {
    if (watching) {
        OrvikFSEvents::removeWatcher(this);
    }
    follower.reset();  // no change comes in any more
}

void LogViewController::startWatch() {
    const QPointer<LogViewController> self(this);
    auto watched = OrvikFSEvents::addWatcher({file.string()}, this, [self](const OrvikFSEventsEvent&) {
        if (self) {
            self->fileChanged();
        }
    });
    watching = watched.has_value();
    if (!watching) {
        qWarning().noquote()
            << QString::fromLatin1(kOpenErrorPrefix) + QString::fromStdString(watched.error().description()) +
                   QStringLiteral(
                       "; the Logs window reads %1 every %2 ms instead while it is open, and tries "
                       "the watch again when it is opened next (with \"Too many open files\", "
                       "raise fs.inotify.max_user_instances or quit programs that watch many "
                       "files)")
                       .arg(QString::fromStdString(file.string()))
                       .arg(kUnwatchedLookInterval.count());
    }
}

QString LogViewController::content() const {
    return QString::fromUtf8(text().bytes());
}

std::size_t LogViewController::reloadCount() const {
    return follower->lookCount();
}

void LogViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (std::exchange(watchRetryDue, false)) {
        startWatch();
    }
    if (!watching) {
        unwatchedLooks->start();
    }
    if (stale) {
        stale = false;
        follower->requestLook();
    }
}

void LogViewController::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous()) {
        return;  // minimised: still visible as far as following goes
    }
    unwatchedLooks->stop();
    watchRetryDue = !watching;
    follower->forget(logWindow->replaceText(LogText()));
    statusLine->clearMessage();
    stale = true;
}

void LogViewController::fileChanged() {
    if (isVisible()) {
        follower->requestLook();
    } else {
        stale = true;
    }
}

void LogViewController::apply(LogFileChange change) {
    std::visit(
        [this](auto& changed) {
            using Change = std::decay_t<decltype(changed)>;
            if constexpr (std::is_same_v<Change, WholeLog>) {
                follower->discard(logWindow->replaceText(std::move(changed.text)));
            } else if constexpr (std::is_same_v<Change, LogGrowth>) {
                logWindow->appendText(changed.added);
            } else if constexpr (std::is_same_v<Change, LogTrim>) {
                logWindow->dropHead(changed.dropped);
                logWindow->appendText(changed.added);
            } else {
                showError(QString::fromLatin1(kReadErrorPrefix) + changed.reason);
            }
        },
        change);
}

void LogViewController::copied(const CopiedLines& lines) {
    if (lines.whole) {
        statusLine->clearMessage();
        return;
    }
    statusLine->showMessage(
        QStringLiteral("Copied only the last %1 MiB of the selection: %2 of its %3 lines.")
            .arg(LogLinesView::kLargestCopy >> 20)
            .arg(lines.copied)
            .arg(lines.selected));
}

void LogViewController::showError(const QString& line) {
    follower->discard(logWindow->replaceText(LogText(line.toUtf8())));
}

}  // namespace brisel::desktop::components
