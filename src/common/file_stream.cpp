#include "common/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

#include "common/file_descriptor.h"
#include "common/logger.h"
#include "common/standard_output.h"
#include "common/system_error.h"
#include "common/utf8.h"

namespace brisel::common {
namespace {

// Every character takes at most four bytes, so the cut lies within this many bytes.
constexpr std::size_t kTrimScanBytes = 4 * kLogTrimCharacters;
constexpr mode_t kNewFileMode = 0600;

tl::expected<void, std::string> writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return tl::unexpected(describeErrno(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// Reads up to `length` bytes from `offset`; fewer only at the end of the file.
tl::expected<std::string, std::string> readAt(int fd, std::uint64_t offset, std::size_t length) {
    std::string bytes(length, '\0');
    std::size_t filled = 0;
    while (filled < length) {
        ssize_t got =
            ::pread(fd, bytes.data() + filled, length - filled, static_cast<off_t>(offset + filled));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return tl::unexpected(describeErrno(errno));
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

// A temporary file next to `file`, removed again unless commit() renamed it into place.
class TemporaryFile {
  public:
    static tl::expected<TemporaryFile, std::string> createBeside(const std::filesystem::path& file) {
        std::string pattern = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
        int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            return tl::unexpected(describeErrno(errno));
        }
        return TemporaryFile(FileDescriptor(fd), pattern);
    }
    // The moved-from object no longer names the file, so its destructor leaves the file alone.
    TemporaryFile(TemporaryFile&& other) noexcept
        : descriptor(std::move(other.descriptor)),
          name(std::exchange(other.name, std::string())),
          mode(other.mode),
          committed(other.committed) {}
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!committed && !name.empty()) {
            ::unlink(name.c_str());
        }
    }

    int fd() const { return descriptor.get(); }

    tl::expected<void, std::string> commit(const std::filesystem::path& file) {
        if (::fchmod(descriptor.get(), mode) != 0 || ::close(descriptor.release()) != 0 ||
            ::rename(name.c_str(), file.c_str()) != 0) {
            return tl::unexpected(describeErrno(errno));
        }
        committed = true;
        return {};
    }
    void setMode(mode_t newMode) { mode = newMode; }

  private:
    TemporaryFile(FileDescriptor fd, std::string path) : descriptor(std::move(fd)), name(std::move(path)) {}

    FileDescriptor descriptor;
    std::string name;
    mode_t mode = kNewFileMode;
    bool committed = false;
};

// The byte offset of the first character that starts at or after `offset`: continuation bytes of
// UTF-8 (at most three) are passed over, so that a cut there never splits a character.
tl::expected<std::uint64_t, std::string> characterStartFrom(int fd, std::uint64_t offset) {
    constexpr std::size_t kLongestContinuation = 3;
    auto bytes = readAt(fd, offset, kLongestContinuation);
    if (!bytes) {
        return tl::unexpected(bytes.error());
    }
    std::uint64_t start = offset;
    for (const char byte : *bytes) {
        if ((static_cast<unsigned char>(byte) & 0xC0U) != 0x80U) {
            break;
        }
        ++start;
    }
    return start;
}

// Copies [offset, end of file) of `source` into `target`.
tl::expected<void, std::string> copyTail(int source, std::uint64_t offset, std::uint64_t size, int target) {
    constexpr std::size_t kChunk = 1 << 20;
    std::uint64_t position = offset;
    while (position < size) {
        std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - position));
        auto chunk = readAt(source, position, length);
        if (!chunk) {
            return tl::unexpected(chunk.error());
        }
        if (chunk->empty()) {
            break;  // the file got shorter; keep what there is
        }
        if (auto written = writeAll(target, *chunk); !written) {
            return written;
        }
        position += chunk->size();
    }
    return {};
}

}  // namespace

tl::expected<void, std::string> writeFileAtomically(const std::filesystem::path& file,
                                                    std::string_view bytes) {
    auto temporary = TemporaryFile::createBeside(file);
    if (!temporary) {
        return tl::unexpected(temporary.error());
    }
    if (auto written = writeAll(temporary->fd(), bytes); !written) {
        return written;
    }
    return temporary->commit(file);
}

tl::expected<void, std::string> appendToFile(const std::filesystem::path& file, std::string_view bytes) {
    FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) {
            return writeFileAtomically(file, bytes);
        }
        return tl::unexpected(describeErrno(errno));
    }
    if (auto written = writeAll(fd.get(), bytes); !written) {
        return written;
    }
    if (::close(fd.release()) != 0) {
        return tl::unexpected(describeErrno(errno));
    }
    return {};
}

bool trimLogFileIfTooLarge(const std::filesystem::path& file, LogTrimDepth depth) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        printLine("Failed to read attributes of log file");
        return false;
    }
    auto size = static_cast<std::uint64_t>(status.st_size);
    if (size <= kLogFileSizeLimit) {
        return false;
    }
    FileDescriptor source(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.valid()) {
        printLine("Failed to read log contents for dropping");
        return false;
    }
    auto head = readAt(source.get(), 0, kTrimScanBytes);
    if (!head) {
        printLine("Failed to read log contents for dropping");
        return false;
    }
    std::uint64_t cut = byteOffsetAfterCharacters(*head, kLogTrimCharacters);
    // After an append larger than what a trim drops, the trim alone would leave the file above the
    // limit: drop as much more as brings it kLogTrimHeadroomBytes below the limit.
    if (size - cut > kLogFileSizeLimit) {
        auto start = characterStartFrom(source.get(), size - kLogFileSizeLimit + kLogTrimHeadroomBytes);
        if (!start) {
            printLine("Failed to read log contents for dropping");
            return false;
        }
        cut = *start;
    }
    if (depth == LogTrimDepth::burst) {
        auto start = characterStartFrom(source.get(), size - kLogFileSizeLimit + kLogBurstTrimHeadroomBytes);
        if (!start) {
            printLine("Failed to read log contents for dropping");
            return false;
        }
        cut = std::max(cut, *start);
    }

    auto report = [&](const std::string& description) {
        printLine("Failed to write truncated file data to " + file.string() + " due to " + description);
    };
    auto temporary = TemporaryFile::createBeside(file);
    if (!temporary) {
        report(temporary.error());
        return false;
    }
    temporary->setMode(status.st_mode & 07777);
    if (auto copied = copyTail(source.get(), cut, size, temporary->fd()); !copied) {
        report(copied.error());
        return false;
    }
    if (auto committed = temporary->commit(file); !committed) {
        report(committed.error());
        return false;
    }
    return true;
}

tl::expected<void, std::string> prepareLogFile(const std::filesystem::path& file) {
    std::error_code failure;
    std::filesystem::create_directories(file.parent_path(), failure);
    if (failure) {
        std::string message = "Cannot create the log folder " + file.parent_path().string() + ": " +
                              failure.message() + "; the log goes to standard output only";
        printLine(message);
        return tl::unexpected(message);
    }
    if (auto created = writeFileAtomically(file, ""); !created) {
        std::string message = "Cannot create the log file " + file.string() + ": " + created.error();
        printLine(message);
        return tl::unexpected(message);
    }
    return {};
}

FileStream::FileStream(std::filesystem::path filePath, std::size_t pendingLimitBytes)
    : path(std::move(filePath)),
      batcher(
          "com.velko.brisel_core.LogFileQueue", QualityOfService::utility,
          [this](const std::string& lines, std::uint64_t linesLeftOutAfter) {
              appendLines(lines, linesLeftOutAfter);
          },
          pendingLimitBytes) {}

void FileStream::appendLines(const std::string& lines, std::uint64_t linesLeftOutAfter) {
    std::string_view batch = lines;
    std::string withNote;
    if (linesLeftOutAfter > 0) {
        withNote = lines + "[" + formatLogTimestamp(std::chrono::system_clock::now()) + "] " +
                   std::string(levelName(LogLevels::error)) + ": " + std::to_string(linesLeftOutAfter) +
                   " lines were left out of the log file here: they came faster than the file took them. "
                   "The lines around this one show what was logging so much.\n";
        batch = withNote;
    }
    if (auto appended = appendToFile(path, batch); !appended) {
        printLine("Failed to write log to file " + path.string() + " due to error " + appended.error());
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const bool soonAfterTheLast = lastTrim && now - *lastTrim < kLogBurstTrimWindow;
    if (trimLogFileIfTooLarge(path, soonAfterTheLast ? LogTrimDepth::burst : LogTrimDepth::least)) {
        lastTrim = now;
    }
}

}  // namespace brisel::common
