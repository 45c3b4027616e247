#include "workflows/flash_manager.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "common/binary_extension.h"
#include "common/file_descriptor.h"
#include "common/logger.h"
#include "common/paths.h"
#include "common/system_error.h"
#include "common/time_scale.h"
#include "workflows/flasher.h"
#include "workflows/flasher_tool_run.h"

namespace brisel::workflows {
namespace {

// Held from the write of library.bin until its tool has ended.
std::timed_mutex& libraryFlashLock() {
    static std::timed_mutex lock;
    return lock;
}

// Writes `bytes` to a new file beside `path` and renames it over `path`. Errors: the system's text.
tl::expected<void, std::string> writeWhole(const std::filesystem::path& path, std::string_view bytes) {
    std::string pattern = path.string() + ".XXXXXX";
    common::FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!file.valid()) {
        return tl::unexpected(common::describeErrno(errno));
    }
    auto fail = [&](int errorNumber) {
        ::unlink(pattern.c_str());
        return tl::unexpected(common::describeErrno(errorNumber));
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(file.get(), bytes.data() + done, bytes.size() - done);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno);
        }
        done += static_cast<std::size_t>(count);
    }
    if (::fsync(file.get()) != 0) {
        return fail(errno);
    }
    file.reset();
    if (::rename(pattern.c_str(), path.c_str()) != 0) {
        return fail(errno);
    }
    return {};
}

}  // namespace

tl::expected<void, FlasherError> FlashManager::flash(const std::filesystem::path& binaryPath,
                                                     common::DeviceKind deviceKind) {
    const auto flasher = common::flasher(deviceKind);
    common::logger().info("Flashing with " + std::string(flasherName(flasher)));
    return flashWith(flasher, binaryPath, deviceKind);
}

tl::expected<std::filesystem::path, std::string> FlashManager::libraryPath() {
    auto folder = common::privateTempFolder();
    if (!folder) {
        return tl::unexpected(folder.error());
    }
    return *folder / (std::string(kLibraryFileStem) + std::string(common::BINARY_EXTENSION));
}

tl::expected<void, LibraryFlashError> FlashManager::flashLibrary(std::string_view image,
                                                                 common::DeviceKind deviceKind,
                                                                 const std::function<void()>& written) {
    std::unique_lock lock(libraryFlashLock(), std::defer_lock);
    if (!lock.try_lock_for(common::scaled(kToolRunLimit + kToolStopGrace * 3))) {
        common::logger().error("Another flash still runs; this one is given up");
        const auto error = FlasherError::flashFailed(failedToFlashText(kFailedToFlashSummary));
        return tl::unexpected(LibraryFlashError{LibraryFlashError::Stage::flashing, describe(error), error});
    }
    auto path = libraryPath();
    if (path) {
        if (auto stored = writeWhole(*path, image); !stored) {
            path = tl::unexpected(stored.error());
        }
    }
    if (!path) {
        return tl::unexpected(LibraryFlashError{LibraryFlashError::Stage::writing, path.error(), {}});
    }
    if (written) {
        written();
    }
    if (auto flashed = flash(*path, deviceKind); !flashed) {
        return tl::unexpected(LibraryFlashError{LibraryFlashError::Stage::flashing, describe(flashed.error()),
                                                flashed.error()});
    }
    return {};
}

}  // namespace brisel::workflows
