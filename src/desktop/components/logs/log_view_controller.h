// The Logs window: shows the whole of the service's log file and follows it as it changes.
#pragma once

#include <QStatusBar>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>

#include "desktop/components/logs/log_file_follower.h"
#include "desktop/components/logs/log_file_reader.h"
#include "desktop/components/logs/log_lines_view.h"

namespace brisel::desktop::components {

// Shows the file's whole text, or one error line, in a view that lays out only the lines in sight
// (LogLinesView), over a status line. The file is read and indexed on a thread of its own
// (LogFileFollower), never on the main thread: when it is shown, and after each change that the
// file-event stream reports while the window is visible. When the file only grew, just the new bytes
// are read and added; when the service trimmed it, the head is dropped where it is shown and the
// reader's place and selection stay on the same lines; when it was replaced or truncated, the whole
// file is read and swapped in at once. Reads are gathered so that at most one happens per
// LogFileFollower::kLookInterval, however busy the log. Hiding the window frees the text; a change
// while it is hidden is only remembered, and the file is read again when it is shown. A copy that
// leaves the head of a large selection out says so in the status line. When the file-event stream
// cannot watch the file (inotify instances used up, say), the window follows the file all the same by
// looking at it every kUnwatchedLookInterval while it is visible, and tries the watch again each time
// it is shown after it was hidden. Main thread only.
class LogViewController : public QWidget {
  public:
    static constexpr const char* kOpenErrorPrefix = "Could not open log file due to error: ";
    static constexpr const char* kReadErrorPrefix = "Could not read log file due to error: ";
    static constexpr std::chrono::milliseconds kUnwatchedLookInterval{1000};

    // Starts watching `logFile` (the file-event stream keyed by this window). When the watch cannot
    // start, the log says why and the window looks at the file on a timer instead.
    explicit LogViewController(std::filesystem::path logFile, QWidget* parent = nullptr);
    // Stops the watch and the reading thread.
    ~LogViewController() override;
    LogViewController(const LogViewController&) = delete;
    LogViewController& operator=(const LogViewController&) = delete;

    // The view's whole content, decoded: costs as much as the log is long (for tests).
    QString content() const;
    // How often the file was looked at so far.
    std::size_t reloadCount() const;
    // What the view shows: the file's text or the error line.
    const LogText& text() const { return logWindow->text(); }
    // What the view shows may be out of date: the file changed while the window was hidden (or the
    // window was never shown). It is read when the window is shown.
    bool isStale() const { return stale; }
    // Whether the file-event stream watches the file (otherwise the window looks on a timer).
    bool watchesFile() const { return watching; }
    // The view shows the last line of what it holds.
    bool showsEnd() const { return logWindow->showsEnd(); }

    // What the status line says.
    QString statusText() const { return statusLine->currentMessage(); }
    LogLinesView& view() { return *logWindow; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    // Starts the watch, or logs why it could not start. Sets `watching`.
    void startWatch();
    void fileChanged();
    void copied(const CopiedLines& lines);
    void apply(LogFileChange change);
    void showError(const QString& line);

    std::filesystem::path file;
    LogLinesView* logWindow;  // owned by this widget
    QStatusBar* statusLine;   // owned by this widget
    QTimer* unwatchedLooks;   // owned by this widget; runs while visible and unwatched
    std::unique_ptr<LogFileFollower> follower;
    bool watching = false;
    bool watchRetryDue = false;  // the watch failed and the window was hidden since: try it at the next show
    bool stale = true;           // the file changed since the view last asked for it
};

}  // namespace brisel::desktop::components
