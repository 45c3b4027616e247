// The text of a log file as its bytes and an index of its lines, so that a view finds any line at
// once and decodes only what it shows.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace brisel::desktop::components {

// Lines end at "\n", which belongs to no line; what follows the last "\n" (nothing when the text ends
// with one) is the last line, so every text has at least one line. The bytes are kept as they are
// (they need not be UTF-8). Made on any thread; one thread at a time uses an object.
class LogText {
  public:
    // One empty line.
    LogText() = default;
    // Indexes `bytes` (two passes over them), keeping room for `lineRoom` more lines in the index.
    explicit LogText(QByteArray bytes, qsizetype lineRoom = 0);
    // Bytes to read `size` bytes of a file into: that many, not yet written, in memory already mapped,
    // with room for `room` more (left unmapped until used).
    static QByteArray readBuffer(qsizetype size, qsizetype room);

    qsizetype size() const { return text.size(); }
    qsizetype lineCount() const { return static_cast<qsizetype>(lineStarts.size()); }
    // Line `index` (0 <= index < lineCount()) without its "\n".
    QByteArrayView line(qsizetype index) const;
    // The length of the longest line, in bytes.
    qsizetype longestLine() const { return longest; }
    const QByteArray& bytes() const { return text; }
    // How many bytes and lines can be appended before the bytes or the index must move.
    qsizetype byteRoom() const { return text.capacity() - text.size(); }
    qsizetype lineRoom() const { return static_cast<qsizetype>(lineStarts.capacity() - lineStarts.size()); }

    // Makes this text the text of its bytes followed by those of `more`: the last line goes on with
    // the first line of `more`, which adds more.lineCount() - 1 lines. Costs as much as `more` is long
    // while it fits the room; beyond, the whole text is moved.
    void append(const LogText& more);
    // The index of the line that holds byte `offset` (0 <= offset <= size(); size() is in the last line).
    qsizetype lineOf(qsizetype offset) const;
    // Drops the first `count` bytes (0 <= count <= size()) where they are: the rest moves to the front
    // and the room grows by what was dropped. The line that held byte `count` goes on as line 0, so
    // lineOf(count) lines are gone; answers that number. Costs as much as the text is long.
    qsizetype dropFront(qsizetype count);

  private:
    QByteArray text;
    std::vector<qsizetype> lineStarts{0};  // offset of each line's first byte; the first is 0
    qsizetype longest = 0;
};

}  // namespace brisel::desktop::components
