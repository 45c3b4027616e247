// The file into which a reader records the raw bytes of valid sample packets, one after the other:
// `<folder>/sensors_temp_<seconds since 1970 with fraction>_<index of its first packet>.bin` while
// recording, renamed to `sensors_<index of its first packet>.bin` when it is saved as a segment. The
// index in the temporary name lets a collection sync upload what a recording that never ended (a
// crash, a power loss) left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

#include "common/file_descriptor.h"

namespace brisel::device {

// What happens to the current file when the next one begins.
enum class OldFile { keep, remove };

// renameat2(from, to, RENAME_NOREPLACE): 0, or -1 with errno set. Tests put another call in its place.
using RenameNoReplace = int (*)(const char* from, const char* to);
int renameNoReplace(const char* from, const char* to);

// Not thread-safe: the reader guards it with its file lock. Owns the open descriptor of the current file.
class SampleFile {
  public:
    // Files go into `folder`, which is created (with its parents) when the first file begins.
    // `renameCall` renames a file without replacing another.
    explicit SampleFile(std::filesystem::path folder, RenameNoReplace renameCall = renameNoReplace);
    SampleFile(const SampleFile&) = delete;
    SampleFile& operator=(const SampleFile&) = delete;

    // Closes the current file (deleting it with `OldFile::remove`) and creates a new empty temporary
    // file whose name carries `firstPacketIndex`. Never reuses an existing name. When the folder or the file
    // cannot be created, logs at error what to do, `path()` still names the new path and appends fail until
    // the next `begin`.
    void begin(OldFile old, std::int64_t firstPacketIndex);

    // Appends `pieces` (whole packets), in order, at the end of the current file. On an error nothing
    // of them stays in the file and the error's text is returned.
    tl::expected<void, std::string> append(std::span<const std::span<const std::uint8_t>> pieces);
    tl::expected<void, std::string> append(std::span<const std::uint8_t> bytes);

    // Renames the current file to `fileName` in the same folder without replacing an existing file;
    // where the file system lacks the no-replace rename (EINVAL, ENOSYS), by a hard link under the new
    // name and the removal of the old one, which never replaces a file either. On success `path()`
    // names the new file; on failure it keeps the old name and the error's text is returned. Later
    // appends still reach the file under its new name.
    tl::expected<void, std::string> rename(const std::string& fileName);

    // Renames the current temporary file to the temporary name (the time now) of `firstPacketIndex`, for
    // a file whose first packet comes later than its name said. As rename() otherwise.
    tl::expected<void, std::string> renumber(std::int64_t firstPacketIndex);

    // Puts the current file's bytes and its name in the folder on the disk (fsync of both).
    tl::expected<void, std::string> persist();

    // Closes and deletes the current file; a failure is logged at critical. `path()` keeps its value.
    void remove();

    // Closes the current file and forgets it, leaving it on the disk: `path()` is empty afterwards.
    void release();

    const std::optional<std::filesystem::path>& path() const { return path_; }
    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
    RenameNoReplace renameCall_;
    std::optional<std::filesystem::path> path_;
    common::FileDescriptor descriptor_;
    std::optional<std::string> openError_;  // why there is no descriptor for `path_`
    std::uint64_t size_ = 0;                // bytes in the current file
};

// "sensors_temp_<seconds>_<firstPacketIndex>.bin" for a time given as seconds since 1970 (shortest
// decimal text).
std::string temporarySampleFileName(double secondsSince1970, std::int64_t firstPacketIndex);
// The first packet index of a temporary file's name ("sensors_temp_", a decimal time, "_", a decimal
// index without sign, ".bin"); none for any other name, an older temporary name without index
// included. Pure.
std::optional<std::int64_t> temporaryFileFirstPacketIndex(std::string_view fileName);
// "sensors_<firstPacketIndex>.bin".
std::string segmentFileName(std::int64_t firstPacketIndex);

// Cuts `file` after the footer of its last whole packet, dropping a packet that a crash cut short
// (nothing is left of a file without footer). The error's text when the file cannot be read or cut.
tl::expected<void, std::string> keepWholePackets(const std::filesystem::path& file);

}  // namespace brisel::device
