#include "device/serial/unique_fd.h"

#include <unistd.h>

namespace brisel::device {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) {
        // close() releases the descriptor even when it reports EINTR on Linux: never retry.
        ::close(fd_);
    }
    fd_ = fd;
}

int UniqueFd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

}  // namespace brisel::device
