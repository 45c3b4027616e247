#include "desktop/components/logs/log_lines_view.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

namespace brisel::desktop::components {

namespace {

constexpr int kMargin = 4;
// A character takes at most this many bytes in UTF-8.
constexpr qsizetype kLongestCharacter = 4;

int clampedToInt(qsizetype value) {
    return static_cast<int>(std::clamp<qsizetype>(value, 0, INT_MAX));
}

bool isContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U;
}

// The first position from `at` on that is not in the middle of a character (more continuation bytes
// than a character has are invalid anyway), at most the end of `bytes`.
qsizetype characterStart(QByteArrayView bytes, qsizetype at) {
    for (qsizetype skipped = 0;
         skipped < kLongestCharacter - 1 && at < bytes.size() && isContinuationByte(bytes[at]); ++skipped) {
        ++at;
    }
    return at;
}

// What a line shows from column `firstColumn` on, at most `columns` characters: decoded from the
// bytes there only, so a long line costs no more than a short one.
QString visiblePart(QByteArrayView line, qsizetype firstColumn, qsizetype columns) {
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    const qsizetype start = characterStart(line, std::min(firstColumn, line.size()));
    QString part =
        QString::fromUtf8(line.sliced(start, std::min(line.size() - start, columns * kLongestCharacter)));
    part.truncate(columns);
    return part;
}

}  // namespace

LogLinesView::LogLinesView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    updateScrollBars();
}

LogText LogLinesView::replaceText(LogText text) {
    const bool following = showsEnd();
    LogText previous = std::exchange(shown, std::move(text));
    selectionAnchor = -1;
    selectionEnd = -1;
    updateScrollBars();
    if (following) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    viewport()->update();
    return previous;
}

void LogLinesView::appendText(const LogText& more) {
    const bool following = showsEnd();
    shown.append(more);
    updateScrollBars();
    if (following) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    viewport()->update();
}

void LogLinesView::dropHead(qsizetype count) {
    const bool following = showsEnd();
    const qsizetype firstInSight = verticalScrollBar()->value();
    const qsizetype gone = shown.dropFront(count);
    if (selectionAnchor >= 0 && std::max(selectionAnchor, selectionEnd) < gone) {
        selectionAnchor = -1;
        selectionEnd = -1;
    } else if (selectionAnchor >= 0) {
        selectionAnchor = std::max<qsizetype>(selectionAnchor - gone, 0);
        selectionEnd = std::max<qsizetype>(selectionEnd - gone, 0);
    }
    updateScrollBars();
    verticalScrollBar()->setValue(following ? verticalScrollBar()->maximum()
                                            : clampedToInt(firstInSight - gone));
    viewport()->update();
}

bool LogLinesView::showsEnd() const {
    return verticalScrollBar()->value() == verticalScrollBar()->maximum();
}

std::optional<std::pair<qsizetype, qsizetype>> LogLinesView::selectedLines() const {
    if (selectionAnchor < 0) {
        return std::nullopt;
    }
    return std::pair(std::min(selectionAnchor, selectionEnd), std::max(selectionAnchor, selectionEnd));
}

void LogLinesView::copySelection() {
    const auto selected = selectedLines();
    if (!selected) {
        return;
    }
    const QByteArrayView lastLine = shown.line(selected->second);
    const char* const end = lastLine.data() + lastLine.size();
    const char* begin = shown.line(selected->first).data();
    qsizetype firstCopied = selected->first;
    if (end - begin > kLargestCopy) {
        const char* const bound = end - kLargestCopy;  // nothing before it is copied
        firstCopied = shown.lineOf(bound - shown.bytes().constData());
        begin = shown.line(firstCopied).data();
        if (begin < bound && firstCopied < selected->second) {
            ++firstCopied;  // from the first line that starts within the bound
            begin = shown.line(firstCopied).data();
        } else if (begin < bound) {
            // A single line longer than the bound: its end, from a character's start.
            const QByteArrayView line = shown.line(firstCopied);
            begin += characterStart(line, bound - begin);
        }
    }
    // The text goes on: only the bytes are taken along.
    QByteArray bytes = LogText::readBuffer(end - begin, 0);
    std::memcpy(bytes.data(), begin, static_cast<std::size_t>(end - begin));
    const CopiedLines copied{selected->second - selected->first + 1, selected->second - firstCopied + 1,
                             begin == shown.line(selected->first).data()};
    clipboard.copy(std::move(bytes), [this, copied] {
        if (copyReport) {
            copyReport(copied);
        }
    });
}

int LogLinesView::lineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int LogLinesView::columnWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

int LogLinesView::rowsInSight() const {
    return std::max(1, viewport()->height() / lineHeight());
}

qsizetype LogLinesView::lineAt(int y) const {
    const qsizetype row = y < 0 ? -1 : y / lineHeight();
    return std::clamp<qsizetype>(verticalScrollBar()->value() + row, 0, shown.lineCount() - 1);
}

void LogLinesView::updateScrollBars() {
    const int rows = rowsInSight();
    verticalScrollBar()->setRange(0, clampedToInt(shown.lineCount() - rows));
    verticalScrollBar()->setPageStep(rows);
    verticalScrollBar()->setSingleStep(1);
    const qsizetype widest = std::min(shown.longestLine(), qsizetype{INT_MAX}) * columnWidth() + 2 * kMargin;
    horizontalScrollBar()->setRange(0, clampedToInt(widest - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(columnWidth());
}

void LogLinesView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(viewport());
    const int height = lineHeight();
    const int width = columnWidth();
    const int ascent = fontMetrics().ascent();
    const qsizetype firstLine = verticalScrollBar()->value();
    const qsizetype endLine = std::min(shown.lineCount(), firstLine + viewport()->height() / height + 2);
    const int offset = horizontalScrollBar()->value();
    const qsizetype firstColumn = std::max(0, offset - kMargin) / width;
    const qsizetype columns = viewport()->width() / width + 2;
    const qsizetype selectedFirst = std::min(selectionAnchor, selectionEnd);
    const qsizetype selectedLast = std::max(selectionAnchor, selectionEnd);
    for (qsizetype line = firstLine; line < endLine; ++line) {
        const int top = static_cast<int>(line - firstLine) * height;
        const bool selected = selectionAnchor >= 0 && line >= selectedFirst && line <= selectedLast;
        if (selected) {
            painter.fillRect(0, top, viewport()->width(), height, palette().highlight());
        }
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(kMargin + static_cast<int>(firstColumn) * width - offset, top + ascent,
                         visiblePart(shown.line(line), firstColumn, columns));
    }
}

void LogLinesView::resizeEvent(QResizeEvent* event) {
    const bool following = showsEnd();
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    if (following) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
}

void LogLinesView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qsizetype line = lineAt(event->position().toPoint().y());
    if (!event->modifiers().testFlag(Qt::ShiftModifier) || selectionAnchor < 0) {
        selectionAnchor = line;
    }
    selectionEnd = line;
    viewport()->update();
}

void LogLinesView::mouseMoveEvent(QMouseEvent* event) {
    if (!event->buttons().testFlag(Qt::LeftButton) || selectionAnchor < 0) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    const int y = event->position().toPoint().y();
    if (y < 0) {
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    } else if (y >= viewport()->height()) {
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    }
    selectionEnd = lineAt(y);
    viewport()->update();
}

void LogLinesView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectionAnchor = 0;
        selectionEnd = shown.lineCount() - 1;
        viewport()->update();
    } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
        verticalScrollBar()->setValue(0);
    } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

}  // namespace brisel::desktop::components
