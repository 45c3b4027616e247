// Move-only owner of a POSIX file descriptor.
#pragma once

#include <unistd.h>

#include <utility>

namespace brisel::common {

// Owns one descriptor (or none, -1) and closes it on destruction or reset.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd; }
    bool valid() const { return fd >= 0; }
    // Gives up ownership; the caller closes the returned descriptor.
    int release() { return std::exchange(fd, -1); }
    // Closes the held descriptor (if any) and takes `descriptor`.
    void reset(int descriptor = -1) {
        if (fd >= 0) {
            // close() releases the descriptor even when it reports EINTR on Linux: never retry.
            ::close(fd);
        }
        fd = descriptor;
    }

  private:
    int fd = -1;
};

}  // namespace brisel::common
