// The Logs window: shows the whole of the service's log file and follows it as it changes.
#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstddef>
#include <filesystem>

namespace brisel::desktop::components {

// Shows the file's whole text, or one error line, in a plain-text view (nothing in it is read as
// markup). The content is read when the window is made and again after each change of the file that
// the file-event stream reports; changes are gathered so that at most one reload happens per
// kReloadInterval, however busy the log, and the pause after a reload is at least four times as long
// as the reload took (showing takes about 0.1 s per MiB of log). Bytes that are not UTF-8 show as replacement
// characters. Main thread only.
class LogViewController : public QWidget {
  public:
    static constexpr std::chrono::milliseconds kReloadInterval{250};
    static constexpr const char* kOpenErrorPrefix = "Could not open log file due to error: ";
    static constexpr const char* kReadErrorPrefix = "Could not read log file due to error: ";

    // Starts watching `logFile` (the file-event stream keyed by this window). When the watch cannot
    // start, the view holds kOpenErrorPrefix and the reason, and nothing follows.
    explicit LogViewController(std::filesystem::path logFile, QWidget* parent = nullptr);
    // Stops the watch.
    ~LogViewController() override;
    LogViewController(const LogViewController&) = delete;
    LogViewController& operator=(const LogViewController&) = delete;

    // The view's whole content.
    QString content() const;
    // How often the file was read so far.
    std::size_t reloadCount() const { return reloads; }

  private:
    void scheduleReload();
    void reload();

    std::filesystem::path file;
    QPlainTextEdit* logWindow;  // owned by this widget
    QTimer reloadTimer;
    QElapsedTimer sinceReload;  // since the end of the last reload
    std::chrono::milliseconds lastReloadDuration{0};
    std::size_t reloads = 0;
    bool watching = false;
};

}  // namespace brisel::desktop::components
