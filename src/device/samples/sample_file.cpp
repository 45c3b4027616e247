#include "device/samples/sample_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "common/logger.h"
#include "device/samples/sample.h"
#include "device/samples/source_line.h"

namespace brisel::device {

namespace {

double secondsSince1970() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

int renameNoReplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

namespace {

constexpr std::string_view kTemporaryPrefix = "sensors_temp_";
constexpr std::string_view kFileSuffix = ".bin";

// The whole of `text` as a number of type T; none when anything is left over.
template <class T>
std::optional<T> wholeNumber(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string temporarySampleFileName(double secondsSince1970Value, std::int64_t firstPacketIndex) {
    char text[64];
    const auto result = std::to_chars(std::begin(text), std::end(text), secondsSince1970Value);
    return std::string(kTemporaryPrefix) + std::string(text, result.ptr) + "_" +
           std::to_string(firstPacketIndex) + std::string(kFileSuffix);
}

std::optional<std::int64_t> temporaryFileFirstPacketIndex(std::string_view fileName) {
    if (!fileName.starts_with(kTemporaryPrefix) || !fileName.ends_with(kFileSuffix) ||
        fileName.size() < kTemporaryPrefix.size() + kFileSuffix.size()) {
        return std::nullopt;
    }
    const std::string_view middle = fileName.substr(
        kTemporaryPrefix.size(), fileName.size() - kTemporaryPrefix.size() - kFileSuffix.size());
    const std::size_t separator = middle.rfind('_');
    if (separator == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view index = middle.substr(separator + 1);
    if (!wholeNumber<double>(middle.substr(0, separator)) || index.empty() ||
        !std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return wholeNumber<std::int64_t>(index);
}

std::string segmentFileName(std::int64_t firstPacketIndex) {
    return "sensors_" + std::to_string(firstPacketIndex) + std::string(kFileSuffix);
}

tl::expected<void, std::string> keepWholePackets(const std::filesystem::path& file) {
    const common::FileDescriptor descriptor(::open(file.c_str(), O_RDWR | O_CLOEXEC));
    struct stat status {};
    if (!descriptor.valid() || ::fstat(descriptor.get(), &status) != 0) {
        return tl::unexpected(errnoText(errno));
    }
    const auto& footer = Sample::FOOTER_MAGIC;
    // Windows from the end; each also takes the first bytes of the one after it, so that a footer
    // across their border is found whole.
    constexpr off_t kWindow = 64 * 1024;
    std::vector<std::uint8_t> window;
    off_t keep = 0;
    for (off_t end = status.st_size; end > 0 && keep == 0;) {
        const off_t start = std::max<off_t>(0, end - kWindow);
        const off_t stop = std::min<off_t>(status.st_size, end + static_cast<off_t>(footer.size()) - 1);
        window.resize(static_cast<std::size_t>(stop - start));
        std::size_t got = 0;
        while (got < window.size()) {
            const ssize_t read = ::pread(descriptor.get(), window.data() + got, window.size() - got,
                                         start + static_cast<off_t>(got));
            if (read < 0 && errno == EINTR) {
                continue;
            }
            if (read <= 0) {
                return tl::unexpected(read < 0 ? errnoText(errno) : std::string("the file ended early"));
            }
            got += static_cast<std::size_t>(read);
        }
        const auto found = std::find_end(window.begin(), window.end(), footer.begin(), footer.end());
        if (found != window.end()) {
            keep = start +
                   static_cast<off_t>(found - window.begin() + static_cast<std::ptrdiff_t>(footer.size()));
        }
        end = start;
    }
    if (keep < status.st_size && ::ftruncate(descriptor.get(), keep) != 0) {
        return tl::unexpected(errnoText(errno));
    }
    return {};
}

SampleFile::SampleFile(std::filesystem::path folder, RenameNoReplace renameCall)
    : folder_(std::move(folder)), renameCall_(renameCall) {}

void SampleFile::begin(OldFile old, std::int64_t firstPacketIndex) {
    if (old == OldFile::remove && path_) {
        remove();
    }
    descriptor_.reset();
    size_ = 0;
    openError_.reset();

    std::error_code folderError;
    std::filesystem::create_directories(folder_, folderError);
    double seconds = secondsSince1970();
    path_ = folder_ / temporarySampleFileName(seconds, firstPacketIndex);
    if (folderError) {
        openError_ = folderError.message();
        common::logger().error("Could not create file at " + path_->string() + ". " + *openError_ + " at " +
                               sourceLine() +
                               ". Samples of this recording are lost; check that the temporary folder is "
                               "writable and the disk has free space.");
        return;
    }
    // Two files begun within the clock's resolution would share a name: take the next representable time.
    for (int attempt = 0; attempt < 100; ++attempt) {
        descriptor_.reset(::open(path_->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600));
        if (descriptor_.valid() || errno != EEXIST) {
            break;
        }
        seconds = std::nextafter(seconds, HUGE_VAL);
        path_ = folder_ / temporarySampleFileName(seconds, firstPacketIndex);
    }
    if (!descriptor_.valid()) {
        openError_ = errnoText(errno);
        common::logger().error("Could not create file at " + path_->string() + ". " + *openError_ + " at " +
                               sourceLine() +
                               ". Samples of this recording are lost; check that the temporary folder is "
                               "writable and the disk has free space.");
    }
}

tl::expected<void, std::string> SampleFile::append(std::span<const std::uint8_t> bytes) {
    const std::span<const std::uint8_t> pieces[] = {bytes};
    return append(pieces);
}

tl::expected<void, std::string> SampleFile::append(std::span<const std::span<const std::uint8_t>> pieces) {
    if (!descriptor_.valid()) {
        return tl::unexpected(openError_.value_or("no sample file is open"));
    }
    // One system call for many packets; IOV_MAX bounds each batch.
    constexpr std::size_t maxBatch = 1024;
    std::vector<iovec> batch;
    batch.reserve(std::min(maxBatch, pieces.size()));
    std::uint64_t written = 0;
    std::size_t next = 0;
    while (next < pieces.size() || !batch.empty()) {
        while (batch.size() < maxBatch && next < pieces.size()) {
            const auto piece = pieces[next++];
            if (!piece.empty()) {
                batch.push_back({const_cast<std::uint8_t*>(piece.data()), piece.size()});
            }
        }
        if (batch.empty()) {
            break;
        }
        const ssize_t result = ::writev(descriptor_.get(), batch.data(), static_cast<int>(batch.size()));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            const std::string error = result < 0 ? errnoText(errno) : "the file accepts no more bytes";
            // Leave no partial packet behind.
            if (written > 0 && ::ftruncate(descriptor_.get(), static_cast<off_t>(size_)) != 0) {
                return tl::unexpected(
                    error + "; the partly written packets could not be removed: " + errnoText(errno));
            }
            return tl::unexpected(error);
        }
        written += static_cast<std::uint64_t>(result);
        // Drop what was written from the front of the batch.
        auto remaining = static_cast<std::size_t>(result);
        std::size_t done = 0;
        while (done < batch.size() && remaining >= batch[done].iov_len) {
            remaining -= batch[done].iov_len;
            ++done;
        }
        if (done < batch.size()) {
            batch[done].iov_base = static_cast<std::uint8_t*>(batch[done].iov_base) + remaining;
            batch[done].iov_len -= remaining;
        }
        batch.erase(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(done));
    }
    size_ += written;
    return {};
}

tl::expected<void, std::string> SampleFile::rename(const std::string& fileName) {
    if (!path_) {
        return tl::unexpected(std::string("no sample file to rename"));
    }
    const std::filesystem::path target = folder_ / fileName;
    if (renameCall_(path_->c_str(), target.c_str()) != 0) {
        const int renameError = errno;
        if (renameError != EINVAL && renameError != ENOSYS) {
            return tl::unexpected(errnoText(renameError));
        }
        // The file system lacks the no-replace rename (NFS, CIFS, older ZFS, some FUSE mounts): a hard
        // link never replaces an existing name either.
        if (::link(path_->c_str(), target.c_str()) != 0) {
            return tl::unexpected(errnoText(errno));
        }
        if (::unlink(path_->c_str()) != 0) {
            const int unlinkError = errno;
            ::unlink(target.c_str());
            return tl::unexpected(errnoText(unlinkError));
        }
    }
    path_ = target;
    return {};
}

tl::expected<void, std::string> SampleFile::renumber(std::int64_t firstPacketIndex) {
    return rename(temporarySampleFileName(secondsSince1970(), firstPacketIndex));
}

tl::expected<void, std::string> SampleFile::persist() {
    if (!descriptor_.valid()) {
        return tl::unexpected(openError_.value_or("no sample file is open"));
    }
    if (::fsync(descriptor_.get()) != 0) {
        return tl::unexpected(errnoText(errno));
    }
    const common::FileDescriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid() || ::fsync(folder.get()) != 0) {
        return tl::unexpected("the folder " + folder_.string() + ": " + errnoText(errno));
    }
    return {};
}

void SampleFile::release() {
    descriptor_.reset();
    path_.reset();
    openError_.reset();
    size_ = 0;
}

void SampleFile::remove() {
    descriptor_.reset();
    if (!path_) {
        return;
    }
    std::error_code error;
    std::filesystem::remove(*path_, error);
    if (error) {
        common::logger().critical("Failed to remove item at " + path_->string() + " due to error " +
                                  error.message() + " at " + sourceLine());
    }
}

}  // namespace brisel::device
