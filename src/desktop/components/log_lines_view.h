// A read-only view of a LogText that lays out and paints only the lines in sight.
#pragma once

#include <QAbstractScrollArea>
#include <QString>

#include "desktop/components/log_text.h"

namespace brisel::desktop::components {

// Shows the text in the system's fixed-width font, one line per row, without wrapping; bytes that
// are not UTF-8 show as replacement characters, nothing is read as markup. Painting, scrolling and
// changing the text cost the same for a text of any size (appending costs as much as is appended).
// While the last line is in sight, the view keeps it in sight when the text grows or is replaced.
// Lines are selected with the mouse (click, shift-click, drag) or select-all, and copied with the
// copy key. Horizontal positions count bytes as columns, which is exact for ASCII lines. Main thread.
class LogLinesView : public QAbstractScrollArea {
  public:
    explicit LogLinesView(QWidget* parent = nullptr);

    // Shows `text` instead; answers the text shown before (to be freed elsewhere). Clears the selection.
    LogText replaceText(LogText text);
    // Adds `more` to the end of the text shown.
    void appendText(const LogText& more);
    const LogText& text() const { return shown; }
    // The last line is in sight.
    bool showsEnd() const;
    // The lines selected, decoded, each with its "\n" except the last; empty when none is.
    QString selectedText() const;

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
};

}  // namespace brisel::desktop::components
