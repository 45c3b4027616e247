#include "cloud/http/body_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

namespace brisel::cloud {

namespace {

HttpError unreadable(const std::filesystem::path& path, const std::string& why) {
    return {HttpErrorKind::fileUnreadable,
            "cannot send the file " + path.string() + ": " + why + "; check that it exists and is readable"};
}

std::string systemError(int number) {
    return std::error_code(number, std::generic_category()).message();
}

}  // namespace

tl::expected<HttpBodyFile, HttpError> HttpBodyFile::open(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer (it is refused below); reads of a regular
    // file are not affected by it.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        return tl::unexpected(unreadable(path, systemError(errno)));
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        const int number = errno;
        ::close(descriptor);
        return tl::unexpected(unreadable(path, systemError(number)));
    }
    if (!S_ISREG(status.st_mode) || status.st_size < 0) {
        ::close(descriptor);
        return tl::unexpected(unreadable(path, "not a regular file"));
    }
    return HttpBodyFile(descriptor, static_cast<std::uint64_t>(status.st_size), path);
}

HttpBodyFile::HttpBodyFile(int descriptor, std::uint64_t size, std::filesystem::path path)
    : descriptor_(descriptor), size_(size), path_(std::move(path)) {}

HttpBodyFile::HttpBodyFile(HttpBodyFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)),
      size_(other.size_),
      bytesRead_(other.bytesRead_),
      path_(std::move(other.path_)) {}

HttpBodyFile& HttpBodyFile::operator=(HttpBodyFile&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        descriptor_ = std::exchange(other.descriptor_, -1);
        size_ = other.size_;
        bytesRead_ = other.bytesRead_;
        path_ = std::move(other.path_);
    }
    return *this;
}

HttpBodyFile::~HttpBodyFile() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

tl::expected<std::size_t, HttpError> HttpBodyFile::readNext(std::span<char> buffer) {
    const std::uint64_t remaining = size_ - bytesRead_;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
    if (wanted == 0) {
        return std::size_t{0};
    }
    while (true) {
        const ssize_t count = ::read(descriptor_, buffer.data(), wanted);
        if (count > 0) {
            bytesRead_ += static_cast<std::uint64_t>(count);
            return static_cast<std::size_t>(count);
        }
        if (count == 0) {
            return tl::unexpected(unreadable(path_, "it became shorter while it was being sent"));
        }
        if (errno != EINTR) {
            return tl::unexpected(unreadable(path_, systemError(errno)));
        }
    }
}

}  // namespace brisel::cloud
