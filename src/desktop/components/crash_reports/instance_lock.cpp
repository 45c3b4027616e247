#include "desktop/components/crash_reports/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace brisel::desktop::components {

namespace {

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

bool lockAtOnce(int descriptor) {
    int result = 0;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

tl::expected<InstanceLock, std::string> InstanceLock::acquire(const std::filesystem::path& file) {
    std::filesystem::path unlocked = file;
    unlocked += ".new";
    const int descriptor = ::open(unlocked.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        return tl::make_unexpected("cannot create " + unlocked.string() + ": " + errnoText(errno));
    }
    InstanceLock lock(unlocked, descriptor);
    if (!lockAtOnce(descriptor)) {
        return tl::make_unexpected("cannot lock " + unlocked.string() + ": " + errnoText(errno));
    }
    if (::rename(unlocked.c_str(), file.c_str()) != 0) {
        return tl::make_unexpected("cannot rename " + unlocked.string() + ": " + errnoText(errno));
    }
    lock.file = file;
    return lock;
}

std::optional<InstanceLock> InstanceLock::takeOverIfGone(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (descriptor < 0) {
        // Missing: its instance has quit, or never got as far as locking. Any other reason (not ours to
        // open, say) counts as held: the files beside it are left alone.
        return errno == ENOENT ? std::optional(InstanceLock(file, -1)) : std::nullopt;
    }
    InstanceLock lock(file, descriptor);
    if (!lockAtOnce(descriptor)) {
        lock.descriptor = -1;  // held by a live instance: neither removed nor kept open
        ::close(descriptor);
        return std::nullopt;
    }
    return lock;
}

InstanceLock::InstanceLock(std::filesystem::path lockFile, int lockDescriptor)
    : file(std::move(lockFile)), descriptor(lockDescriptor) {}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : file(std::move(other.file)), descriptor(std::exchange(other.descriptor, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        release();
        file = std::move(other.file);
        descriptor = std::exchange(other.descriptor, -1);
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    release();
}

void InstanceLock::release() noexcept {
    if (descriptor < 0) {
        return;
    }
    ::unlink(file.c_str());  // still locked: nobody takes this file over meanwhile
    ::close(std::exchange(descriptor, -1));
}

}  // namespace brisel::desktop::components
