#include "desktop/components/log_file_reader.h"

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

}  // namespace

LogFileReader::LogFileReader(std::filesystem::path logFile) : file(std::move(logFile)) {}

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

std::optional<LogFileChange> LogFileReader::look(const std::stop_token& stop) {
    // Non-blocking, so that a FIFO put at the path cannot hold the open; only regular files are read.
    const common::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
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
        QByteArray bytes = LogText::readBuffer(static_cast<qsizetype>(status.st_size), kGrowthRoom);
        failure = readRange(fd.get(), 0, stop, bytes);
        if (failure == 0) {
            LogText text(std::move(bytes), kGrowthRoom / kShortestExpectedLine);
            known = Known{status.st_dev,   status.st_ino,
                          text.size(),     lastBytes(text.bytes(), kComparedTailBytes),
                          text.byteRoom(), text.lineRoom()};
            lastReason.reset();
            return WholeLog{std::move(text)};
        }
    }
    return failure < 0 ? std::nullopt : unreadable(describeErrno(failure));
}

}  // namespace brisel::desktop::components
