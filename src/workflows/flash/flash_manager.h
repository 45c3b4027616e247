// The single entry point of flashing: picks the flasher of a board, and writes a downloaded library
// to `library.bin` and flashes it, one flash at a time.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

#include "common/device_kind.h"
#include "workflows/flash/flasher_error.h"

namespace brisel::workflows {

// The file a downloaded library is flashed from, in the private temporary folder.
inline constexpr std::string_view kLibraryFileStem = "library.";

// Why flashLibrary failed: writing the file, or flashing it.
struct LibraryFlashError {
    enum class Stage { writing, flashing };
    Stage stage = Stage::flashing;
    // The error in its text form: the file system's description, or describe(FlasherError).
    std::string description;
    FlasherError flasherError;  // the flasher's error when `stage` is flashing
};

class FlashManager {
  public:
    FlashManager() = delete;

    // Logs at info "Flashing with <flasher name>" and runs the flasher of `deviceKind` on the image at
    // `binaryPath`; its error passes unchanged. Blocks the calling thread until the tool has ended (the
    // tool in flight is held by RunningProcessManager). Not on the websocket thread.
    static tl::expected<void, FlasherError> flash(const std::filesystem::path& binaryPath,
                                                  common::DeviceKind deviceKind);

    // Writes `image` whole to "library.bin" in the private temporary folder (a temporary name renamed
    // into place), calls `written` (the callers log their progress there), then flash()es it. Flashes
    // of the process run one at a time, from the write until the tool has ended; a second caller waits
    // at most the tool's run limit (scaled) and then fails like a failed flash. Not on the websocket
    // thread.
    static tl::expected<void, LibraryFlashError> flashLibrary(std::string_view image,
                                                              common::DeviceKind deviceKind,
                                                              const std::function<void()>& written = {});

    // Where flashLibrary writes the image: privateTempFolder() / "library.bin". Errors: the folder's.
    static tl::expected<std::filesystem::path, std::string> libraryPath();
};

}  // namespace brisel::workflows
