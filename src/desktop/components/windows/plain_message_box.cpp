#include "desktop/components/windows/plain_message_box.h"

#include <QLabel>

namespace brisel::desktop::components {

namespace {

constexpr QChar kEllipsis(0x2026);
constexpr QChar kZeroWidthSpace(0x200B);

// The first `length` code units of `line`, without the first half of a character cut in two.
QStringView wholeCharacters(QStringView line, qsizetype length) {
    QStringView head = line.left(length);
    if (!head.isEmpty() && head.back().isHighSurrogate()) {
        head.chop(1);
    }
    return head;
}

// Appends `piece`, with a zero-width space (a place where a line may wrap) in each run of more than
// kMostAlertRunLength characters without a blank: a label wraps only there, and a long version or
// address would otherwise widen the box beyond the screen. `run` is the length of the run so far.
void appendWrappable(QString& fitted, QStringView piece, qsizetype& run) {
    for (const QChar character : piece) {
        if (character.isSpace()) {
            run = 0;
        } else if (++run > kMostAlertRunLength) {
            fitted += kZeroWidthSpace;
            run = 1;
        }
        fitted += character;
    }
}

}  // namespace

QString fittedAlertText(QStringView text) {
    QString fitted;
    qsizetype lines = 0;
    qsizetype taken = 0;  // characters of `text` in `fitted`
    while (true) {
        const qsizetype newline = text.indexOf(u'\n');
        const QStringView line = newline < 0 ? text : text.left(newline);
        qsizetype run = 0;
        if (line.size() > kMostAlertLength - taken) {
            appendWrappable(fitted, wholeCharacters(line, kMostAlertLength - taken), run);
            fitted += kEllipsis;
            return fitted;
        }
        appendWrappable(fitted, line, run);
        if (newline < 0) {
            return fitted;
        }
        text = text.mid(newline + 1);
        taken += line.size() + 1;
        if (++lines == kMostAlertLines || taken >= kMostAlertLength) {
            if (!text.isEmpty()) {
                fitted += u'\n';
                fitted += kEllipsis;
            }
            return fitted;
        }
        fitted += u'\n';
    }
}

void setPlainInformativeText(QMessageBox& box, const QString& informativeText) {
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(fittedAlertText(informativeText));
    // The informative label is made by the first non-empty informative text.
    for (QLabel* label : box.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
}

}  // namespace brisel::desktop::components
