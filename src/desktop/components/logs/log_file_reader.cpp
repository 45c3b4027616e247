#include "desktop/components/logs/log_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "common/file_descriptor.h"

namespace brisel::desktop::components {

namespace {

// Reads are cut into pieces of this size so that a stop is noticed within one of them.
constexpr qsizetype kReadPiece = qsizetype{4} << 20;
// How far from the end a trimmed file is first searched for the known end; then four times as far, up
// to LogFileReader::kLargestGrowth.
constexpr qsizetype kFirstSearchedGrowth = qsizetype{128} << 10;

QString describeErrno(int errorNumber) {
    return QString::fromStdString(std::error_code(errorNumber, std::generic_category()).message());
}

// Fills `bytes` with the file's bytes from `offset` on; shortens it when the file ends sooner. Answers
// 0, the error number of a failed read, or -1 when stopped.
int readRange(int fd, qsizetype offset, const std::stop_token& stop, QByteArray& bytes) {
    qsizetype filled = 0;
    int result = 0;
    while (filled < bytes.size()) {
        if (stop.stop_requested()) {
            result = -1;
            break;
        }
        const qsizetype wanted = std::min(kReadPiece, bytes.size() - filled);
        const ssize_t got = ::pread(fd, bytes.data() + filled, static_cast<std::size_t>(wanted),
                                    static_cast<off_t>(offset + filled));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result = errno;
            break;
        }
        if (got == 0) {
            break;  // shortened meanwhile: the next look sees it
        }
        filled += got;
    }
    bytes.truncate(filled);
    return result;
}

// A copy of the last `count` bytes (all when there are fewer), sharing nothing with `bytes`.
QByteArray lastBytes(const QByteArray& bytes, qsizetype count) {
    const qsizetype length = std::min(count, bytes.size());
    return QByteArray(bytes.constData() + bytes.size() - length, length);
}

// How many "\n" the file holds in [0, end), or nothing when a read failed or `stop` was requested.
std::optional<qsizetype> countLineEnds(int fd, qsizetype end, const std::stop_token& stop) {
    qsizetype count = 0;
    QByteArray piece;
    for (qsizetype offset = 0; offset < end; offset += piece.size()) {
        piece.resize(std::min(kReadPiece, end - offset));
        if (readRange(fd, offset, stop, piece) != 0 || piece.isEmpty()) {
            return std::nullopt;
        }
        count += piece.count('\n');
    }
    return count;
}

}  // namespace

LogFileReader::LogFileReader(std::filesystem::path logFile) : file(std::move(logFile)) {}

void LogFileReader::forget() {
    known.reset();
    lastReason.reset();
}

std::optional<LogFileChange> LogFileReader::unreadable(const QString& reason) {
    known.reset();
    if (lastReason == reason) {
        return std::nullopt;
    }
    lastReason = reason;
    return UnreadableLog{reason};
}

std::optional<LogText> LogFileReader::readGrowth(int fd, const struct stat& status,
                                                 const std::stop_token& stop, int& failure) {
    const auto size = static_cast<qsizetype>(status.st_size);
    if (!known || known->device != status.st_dev || known->inode != status.st_ino || size < known->size ||
        size - known->size > std::min(known->byteRoom, kLargestGrowth)) {
        return std::nullopt;
    }
    QByteArray tail(known->tail.size(), Qt::Uninitialized);
    failure = readRange(fd, known->size - known->tail.size(), stop, tail);
    if (failure != 0 || tail != known->tail) {
        return std::nullopt;
    }
    QByteArray added = LogText::readBuffer(size - known->size, 0);
    failure = readRange(fd, known->size, stop, added);
    if (failure != 0) {
        return std::nullopt;
    }
    LogText growth(std::move(added));
    if (growth.lineCount() - 1 > known->lineRoom) {
        return std::nullopt;
    }
    return growth;
}

std::optional<LogTrim> LogFileReader::readTrim(int fd, const struct stat& status, const std::stop_token& stop,
                                               int& failure) {
    if (!known || !known->file.valid() || known->tail.isEmpty()) {
        return std::nullopt;
    }
    // The known end, if it is still there, lies before the growth since: at most kLargestGrowth from
    // the file's end, and mostly much closer, so the search starts near the end and widens. The last
    // place counts: a log whose lines repeat holds the tail more than once, and what was appended after
    // the known end rarely holds it again.
    const auto size = static_cast<qsizetype>(status.st_size);
    QByteArray searched;
    qsizetype searchedFrom = size;
    qsizetype found = -1;
    for (qsizetype growth = kFirstSearchedGrowth; found < 0 && searchedFrom > 0; growth *= 4) {
        if (growth > kLargestGrowth) {
            return std::nullopt;
        }
        searchedFrom = std::max(qsizetype{0}, size - growth - known->tail.size());
        searched.resize(size - searchedFrom);
        failure = readRange(fd, searchedFrom, stop, searched);
        if (failure != 0) {
            return std::nullopt;
        }
        // Qt 6.4 reads before the bytes when they are fewer than what is looked for.
        found = searched.size() < known->tail.size() ? -1 : searched.lastIndexOf(known->tail);
    }
    if (found < 0) {
        return std::nullopt;
    }
    const qsizetype knownEnd = searchedFrom + found + known->tail.size();
    const qsizetype dropped = known->size - knownEnd;
    if (dropped < 0) {
        return std::nullopt;  // more before the known end than was known: not a trim
    }
    QByteArray head(std::min(kComparedHeadBytes, knownEnd), Qt::Uninitialized);
    QByteArray knownHead(head.size(), Qt::Uninitialized);
    failure = readRange(fd, 0, stop, head);
    if (failure == 0) {
        failure = readRange(known->file.get(), dropped, stop, knownHead);
    }
    if (failure != 0 || head.size() < std::min(kComparedHeadBytes, knownEnd) || head != knownHead) {
        return std::nullopt;
    }
    const std::optional<qsizetype> droppedLines = countLineEnds(known->file.get(), dropped, stop);
    if (!droppedLines) {
        failure = stop.stop_requested() ? -1 : 0;
        return std::nullopt;
    }
    LogText added(searched.sliced(found + known->tail.size()));
    if (added.size() > known->byteRoom + dropped || added.lineCount() - 1 > known->lineRoom + *droppedLines) {
        return std::nullopt;
    }
    known->size = searchedFrom + searched.size();
    known->tail = lastBytes(searched, kComparedTailBytes);
    known->byteRoom += dropped - added.size();
    known->lineRoom += *droppedLines - (added.lineCount() - 1);
    return LogTrim{dropped, std::move(added)};
}

std::optional<LogFileChange> LogFileReader::look(const std::stop_token& stop) {
    // Non-blocking, so that a FIFO put at the path cannot hold the open; only regular files are read.
    common::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) {
        return unreadable(describeErrno(errno));
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return unreadable(describeErrno(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        return unreadable(describeErrno(EISDIR));
    }
    if (!S_ISREG(status.st_mode)) {
        return unreadable(QStringLiteral("Not a regular file"));
    }
    int failure = 0;
    std::optional<LogText> growth = readGrowth(fd.get(), status, stop, failure);
    if (failure == 0 && growth) {
        if (growth->size() == 0) {
            return std::nullopt;
        }
        known->size += growth->size();
        known->tail = lastBytes(known->tail + growth->bytes(), kComparedTailBytes);
        known->byteRoom -= growth->size();
        known->lineRoom -= growth->lineCount() - 1;
        return LogGrowth{std::move(*growth)};
    }
    if (failure == 0) {
        std::optional<LogTrim> trim = readTrim(fd.get(), status, stop, failure);
        if (failure == 0 && trim) {
            known->file = std::move(fd);
            known->device = status.st_dev;
            known->inode = status.st_ino;
            return std::move(*trim);
        }
    }
    if (failure == 0) {
        QByteArray bytes = LogText::readBuffer(static_cast<qsizetype>(status.st_size), kGrowthRoom);
        failure = readRange(fd.get(), 0, stop, bytes);
        if (failure == 0) {
            LogText text(std::move(bytes), kGrowthRoom / kShortestExpectedLine);
            known = Known{std::move(fd),
                          status.st_dev,
                          status.st_ino,
                          text.size(),
                          lastBytes(text.bytes(), kComparedTailBytes),
                          text.byteRoom(),
                          text.lineRoom()};
            lastReason.reset();
            return WholeLog{std::move(text)};
        }
    }
    return failure < 0 ? std::nullopt : unreadable(describeErrno(failure));
}

}  // namespace brisel::desktop::components
