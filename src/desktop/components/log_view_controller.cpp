#include "desktop/components/log_view_controller.h"

#include <QFile>
#include <QFontDatabase>
#include <QPointer>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "desktop/components/file_event_watchers.h"

namespace brisel::desktop::components {

LogViewController::LogViewController(std::filesystem::path logFile, QWidget* parent)
    : QWidget(parent), file(std::move(logFile)), logWindow(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("Logs"));
    resize(900, 600);
    logWindow->setReadOnly(true);
    logWindow->setUndoRedoEnabled(false);  // a reload must not keep the previous content as well
    logWindow->setLineWrapMode(QPlainTextEdit::NoWrap);
    logWindow->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);  // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(logWindow);

    reloadTimer.setSingleShot(true);
    QObject::connect(&reloadTimer, &QTimer::timeout, this, [this] { reload(); });

    const QPointer<LogViewController> self(this);
    auto watched = OrvikFSEvents::addWatcher({file.string()}, this, [self](const OrvikFSEventsEvent&) {
        if (self) {
            self->scheduleReload();
        }
    });
    if (!watched) {
        logWindow->setPlainText(QString::fromLatin1(kOpenErrorPrefix) +
                                QString::fromStdString(watched.error().description()));
        return;
    }
    watching = true;
    reload();  // a quiet service must not leave the window empty over a full log
}

LogViewController::~LogViewController() {
    if (watching) {
        OrvikFSEvents::removeWatcher(this);
    }
}

QString LogViewController::content() const {
    return logWindow->toPlainText();
}

void LogViewController::scheduleReload() {
    if (reloadTimer.isActive()) {
        return;  // this change is read by the reload already due
    }
    if (!sinceReload.isValid()) {
        reloadTimer.start(0);
        return;
    }
    // A large log takes long to show: the window then rests at least four times as long as the last
    // reload took, so that the application stays responsive more than four fifths of the time.
    const auto pause = std::max(kReloadInterval, 4 * lastReloadDuration);
    const auto elapsed = std::chrono::milliseconds(sinceReload.elapsed());
    reloadTimer.start(std::max(pause - elapsed, std::chrono::milliseconds(0)));
}

void LogViewController::reload() {
    ++reloads;
    QElapsedTimer duration;
    duration.start();
    QFile log(QString::fromStdString(file.string()));
    QString text;
    if (!log.open(QIODevice::ReadOnly)) {
        text = QString::fromLatin1(kReadErrorPrefix) + log.errorString();
    } else {
        const QByteArray bytes = log.readAll();
        text = log.error() == QFileDevice::NoError
                   ? QString::fromUtf8(bytes)
                   : QString::fromLatin1(kReadErrorPrefix) + log.errorString();
    }
    QScrollBar* scroll = logWindow->verticalScrollBar();
    const bool followingTheEnd = scroll->value() == scroll->maximum();
    logWindow->setPlainText(text);
    if (followingTheEnd) {
        scroll->setValue(scroll->maximum());
    }
    lastReloadDuration = std::chrono::milliseconds(duration.elapsed());
    sinceReload.start();  // the pause counts from the end of this reload
}

}  // namespace brisel::desktop::components
