// Reads a log file that is followed: the whole file when it is new to the reader, only the added bytes
// when it merely grew.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <optional>
#include <stop_token>
#include <variant>

#include "common/file_descriptor.h"
#include "desktop/components/logs/log_text.h"

namespace brisel::desktop::components {

// The file's whole text: the reader saw it for the first time, or it was replaced, truncated,
// rewritten, or trimmed beyond what the reader can follow.
struct WholeLog {
    LogText text;
};
// The bytes added at the end of the file since the reader's last change.
struct LogGrowth {
    LogText added;
};
// The file was trimmed (the service cuts the head of its log away and puts the rest in place, unchanged):
// of the text that the reader's changes so far add up to, the first `dropped` bytes are gone and the
// rest starts the file; `added` came after it.
struct LogTrim {
    qsizetype dropped = 0;
    LogText added;
};
// The file cannot be read; `reason` is the system's description.
struct UnreadableLog {
    QString reason;
};
using LogFileChange = std::variant<WholeLog, LogGrowth, LogTrim, UnreadableLog>;

// Remembers what its changes so far add up to (which file, how many bytes, the last few of them)
// and compares the file with that on each look. A whole text comes with room to grow by kGrowthRoom
// bytes and kGrowthRoom / kShortestExpectedLine lines (memory that stays untouched until used), and
// growth comes only while it fits that room: so whoever appends the growth to the whole text never
// moves the text, which for a large log would take long. A trim gives back the room of what it drops
// (LogText::dropFront keeps the room). Growth beyond kLargestGrowth at once (after the window was
// hidden, say) comes as a whole text too, so that no single append takes long either.
//
// A trim is told from a replacement by the bytes it kept: the last kComparedTailBytes known bytes must
// be found within the last kLargestGrowth bytes of the file (the growth since comes after them), and
// the file's first kComparedHeadBytes must be the known ones from where the cut was. The known bytes
// are read from the file that the reader saw last, which it keeps open until the next look.
//
// Used by one thread at a time; never blocks on the file (a FIFO or device at the path is refused,
// not opened for reading).
class LogFileReader {
  public:
    static constexpr qsizetype kGrowthRoom = qsizetype{16} << 20;
    static constexpr qsizetype kShortestExpectedLine = 32;
    static constexpr qsizetype kLargestGrowth = qsizetype{8} << 20;
    // Bytes before the known end that must still be there, unchanged, for growth to count as growth.
    static constexpr qsizetype kComparedTailBytes = 4096;
    // Bytes at the start of a trimmed file that must be the known ones from the cut on.
    static constexpr qsizetype kComparedHeadBytes = qsizetype{64} << 10;

    explicit LogFileReader(std::filesystem::path file);

    // Looks at the file. Nothing when it is as the last change left it, when the last change already
    // said that it cannot be read for the same reason, or when `stop` was requested during the read.
    // Otherwise LogGrowth when the same file only grew, within the room left, and its last
    // kComparedTailBytes known bytes are unchanged; LogTrim when it was trimmed (see above) and then
    // grew within the room; WholeLog when it is another file, shorter, changed or grew beyond the
    // room; UnreadableLog when it cannot be opened or read or is not a regular file. Reads up to the
    // size the file had when the look began.
    std::optional<LogFileChange> look(const std::stop_token& stop);

    // Forgets what the changes so far add up to (and closes the file it kept open): the next look
    // gives the whole text.
    void forget();

  private:
    struct Known {
        common::FileDescriptor file;  // the file as last seen: a trim replaces it, this one keeps it
        dev_t device = 0;
        ino_t inode = 0;
        qsizetype size = 0;
        QByteArray tail;  // the last kComparedTailBytes bytes (fewer in a shorter file)
        qsizetype byteRoom = 0;
        qsizetype lineRoom = 0;
    };

    // The growth since the known end, or nothing when the file is not the known one grown within
    // the room (or a read failed: then `failure` holds the error number, or -1 when stopped).
    std::optional<LogText> readGrowth(int fd, const struct stat& status, const std::stop_token& stop,
                                      int& failure);
    // The trim since the known text, or nothing when the file is not a trim of it followed by growth
    // within the room (or a read failed, as above). Moves the known end to the file's end.
    std::optional<LogTrim> readTrim(int fd, const struct stat& status, const std::stop_token& stop,
                                    int& failure);
    std::optional<LogFileChange> unreadable(const QString& reason);

    std::filesystem::path file;
    std::optional<Known> known;         // none: no text given yet, or the last change was an error
    std::optional<QString> lastReason;  // the reason of the last change when it was an error
};

}  // namespace brisel::desktop::components
