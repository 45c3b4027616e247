#include "desktop/components/logs/log_view_controller.h"

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
      statusLine(new QStatusBar(this)) {
    setWindowTitle(QStringLiteral("Logs"));
    resize(900, 600);
    auto* layout = new QVBoxLayout(this);  // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(logWindow);
    layout->addWidget(statusLine);
    statusLine->setSizeGripEnabled(false);
    logWindow->setCopyReport([this](const CopiedLines& lines) { copied(lines); });

    const QPointer<LogViewController> self(this);
    auto watched = OrvikFSEvents::addWatcher({file.string()}, this, [self](const OrvikFSEventsEvent&) {
        if (self) {
            self->fileChanged();
        }
    });
    if (!watched) {
        showError(QString::fromLatin1(kOpenErrorPrefix) +
                  QString::fromStdString(watched.error().description()));
        return;
    }
    follower =
        std::make_unique<LogFileFollower>(file, [this](LogFileChange change) { apply(std::move(change)); });
}

LogViewController::~LogViewController() {
    if (follower) {
        OrvikFSEvents::removeWatcher(this);
        follower.reset();  // no change comes in any more
    }
}

QString LogViewController::content() const {
    return QString::fromUtf8(text().bytes());
}

std::size_t LogViewController::reloadCount() const {
    return follower ? follower->lookCount() : 0;
}

void LogViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale && follower) {
        stale = false;
        follower->requestLook();
    }
}

void LogViewController::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous() || !follower) {
        return;  // minimised: still visible as far as following goes
    }
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
    LogText previous = logWindow->replaceText(LogText(line.toUtf8()));
    if (follower) {
        follower->discard(std::move(previous));
    }
}

}  // namespace brisel::desktop::components
