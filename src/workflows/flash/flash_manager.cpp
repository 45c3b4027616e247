#include "workflows/flash/flash_manager.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "common/binary_extension.h"
#include "common/file_descriptor.h"
#include "common/logger.h"
#include "common/paths.h"
#include "common/system_error.h"
#include "common/time_scale.h"
#include "workflows/flash/flasher.h"
#include "workflows/flash/flasher_tool_run.h"

namespace brisel::workflows {
namespace {

// Taken from the write of library.bin until its tool has ended. A flag under a plain mutex rather than
// a std::timed_mutex, whose timed lock ThreadSanitizer cannot see (it then reports the unlock).
class LibraryFlashSlot {
  public:
    // Waits at most `limit` for the slot; true when taken.
    bool take(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        if (!freed.wait_for(lock, limit, [this] { return !taken; })) {
            return false;
        }
        taken = true;
        return true;
    }
    void release() {
        {
            std::lock_guard lock(mutex);
            taken = false;
        }
        freed.notify_one();
    }

  private:
    std::mutex mutex;
    std::condition_variable freed;
    bool taken = false;  // guarded by mutex
};

LibraryFlashSlot& libraryFlashSlot() {
    static LibraryFlashSlot slot;
    return slot;
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
    if (!libraryFlashSlot().take(common::scaled(kToolRunLimit + kToolStopGrace * 3))) {
        common::logger().error("Another flash still runs; this one is given up");
        const auto error = FlasherError::flashFailed(failedToFlashText(kFailedToFlashSummary));
        return tl::unexpected(LibraryFlashError{LibraryFlashError::Stage::flashing, describe(error), error});
    }
    const std::unique_ptr<LibraryFlashSlot, void (*)(LibraryFlashSlot*)> held(
        &libraryFlashSlot(), [](LibraryFlashSlot* slot) { slot->release(); });
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
