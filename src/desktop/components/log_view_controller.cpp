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
    const auto elapsed = std::chrono::milliseconds(sinceReload.isValid() ? sinceReload.elapsed() : 0);
    const auto wait = sinceReload.isValid()
                          ? std::max(kReloadInterval - elapsed, std::chrono::milliseconds(0))
                          : std::chrono::milliseconds(0);
    reloadTimer.start(wait);
}

void LogViewController::reload() {
    ++reloads;
    sinceReload.start();
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
}

}  // namespace brisel::desktop::components
