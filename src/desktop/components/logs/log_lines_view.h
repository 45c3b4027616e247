// A read-only view of a LogText that lays out and paints only the lines in sight.
#pragma once

#include <QAbstractScrollArea>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

#include "desktop/components/logs/clipboard_copy.h"
#include "desktop/components/logs/log_text.h"

namespace brisel::desktop::components {

// What a copy put on the clipboard: the last `copied` of the `selected` lines; the first of them is
// cut short when a single line was longer than the copy's bound.
struct CopiedLines {
    qsizetype selected = 0;
    qsizetype copied = 0;
    bool whole = true;  // all of the selection
};

// Shows the text in the system's fixed-width font, one line per row, without wrapping; bytes that
// are not UTF-8 show as replacement characters, nothing is read as markup. Painting, scrolling and
// changing the text cost the same for a text of any size (appending costs as much as is appended,
// dropping the head as much as the text is long). While the last line is in sight, the view keeps it
// in sight when the text grows, is replaced or loses its head; otherwise the lines in sight and the
// selection stay on the same text when the head goes. Lines are selected with the mouse (click,
// shift-click, drag) or select-all, and copied with the copy key, at most the last kLargestCopy bytes
// of them. Horizontal positions count bytes as columns, which is exact for ASCII lines. Main thread.
class LogLinesView : public QAbstractScrollArea {
  public:
    static constexpr qsizetype kLargestCopy = qsizetype{16} << 20;
    using CopyReport = std::function<void(const CopiedLines&)>;

    explicit LogLinesView(QWidget* parent = nullptr);

    // Shows `text` instead; answers the text shown before (to be freed elsewhere). Clears the selection.
    LogText replaceText(LogText text);
    // Adds `more` to the end of the text shown.
    void appendText(const LogText& more);
    // Drops the first `count` bytes of the text shown (see LogText::dropFront). Selected lines that
    // went are no longer selected.
    void dropHead(qsizetype count);
    const LogText& text() const { return shown; }
    // The last line is in sight.
    bool showsEnd() const;
    // The first and last line selected (first <= last); none when nothing is.
    std::optional<std::pair<qsizetype, qsizetype>> selectedLines() const;
    // Puts the selected lines on the clipboard, decoded, each with its "\n" except the last: at most
    // their last kLargestCopy bytes, from the first line that starts within them. Nothing when no line
    // is selected. The decoding runs on a thread of its own (ClipboardCopy): the clipboard holds the
    // text, and `report` (setCopyReport) is told what was copied, once the main loop ran again.
    void copySelection();
    void setCopyReport(CopyReport report) { copyReport = std::move(report); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int lineHeight() const;
    int columnWidth() const;
    // Rows that fit the viewport whole (at least one).
    int rowsInSight() const;
    // The line at viewport height `y`, clamped to the text.
    qsizetype lineAt(int y) const;
    void updateScrollBars();

    LogText shown;
    qsizetype selectionAnchor = -1;  // -1: nothing selected
    qsizetype selectionEnd = -1;
    CopyReport copyReport;
    ClipboardCopy clipboard;
};

}  // namespace brisel::desktop::components
