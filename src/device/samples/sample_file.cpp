#include "device/samples/sample_file.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "common/logger.h"
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

std::string temporarySampleFileName(double secondsSince1970Value) {
    char text[64];
    const auto result = std::to_chars(std::begin(text), std::end(text), secondsSince1970Value);
    return "sensors_temp_" + std::string(text, result.ptr) + ".bin";
}

std::string segmentFileName(std::int64_t firstPacketIndex) {
    return "sensors_" + std::to_string(firstPacketIndex) + ".bin";
}

SampleFile::SampleFile(std::filesystem::path folder) : folder_(std::move(folder)) {}

void SampleFile::begin(OldFile old) {
    if (old == OldFile::remove && path_) {
        remove();
    }
    descriptor_.reset();
    size_ = 0;
    openError_.reset();

    std::error_code folderError;
    std::filesystem::create_directories(folder_, folderError);
    double seconds = secondsSince1970();
    path_ = folder_ / temporarySampleFileName(seconds);
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
        path_ = folder_ / temporarySampleFileName(seconds);
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
    if (::renameat2(AT_FDCWD, path_->c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        return tl::unexpected(errnoText(errno));
    }
    path_ = target;
    return {};
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
