// The lock file of one running instance of the tray application: locked (flock) for the instance's
// whole life, so the kernel lets go of it when the process ends, however it ends. Another instance
// tells by it whether the files kept beside it belong to a live instance or to one that is gone.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <tl/expected.hpp>

namespace brisel::desktop::components {

// Move-only owner of a locked file (or of nothing, see takeOverIfGone). Dropping it removes the file
// while it is still locked and then lets go of the lock. Any thread, one at a time.
class InstanceLock {
  public:
    // Creates and locks `file`, which must not exist (instances name theirs uniquely). The file appears
    // already locked: it is locked under a temporary name and then renamed into place. The descriptor
    // is closed on exec, so children never hold it. Errors: a readable reason.
    static tl::expected<InstanceLock, std::string> acquire(const std::filesystem::path& file);

    // Nothing while a live instance holds `file`. Otherwise (the file is missing, or its holder is
    // gone) a lock that holds `file` for the caller until it is dropped, which removes it.
    static std::optional<InstanceLock> takeOverIfGone(const std::filesystem::path& file);

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

  private:
    InstanceLock(std::filesystem::path file, int descriptor);
    void release() noexcept;

    std::filesystem::path file;
    int descriptor = -1;  // -1: holds nothing
};

}  // namespace brisel::desktop::components
