// The file into which a reader records the raw bytes of valid sample packets, one after the other:
// `<folder>/sensors_temp_<seconds since 1970 with fraction>.bin` while recording, renamed to
// `sensors_<index of its first packet>.bin` when it is saved as a segment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include <tl/expected.hpp>

#include "common/file_descriptor.h"

namespace brisel::device {

// What happens to the current file when the next one begins.
enum class OldFile { keep, remove };

// Not thread-safe: the reader guards it with its file lock. Owns the open descriptor of the current file.
class SampleFile {
  public:
    // Files go into `folder`, which is created (with its parents) when the first file begins.
    explicit SampleFile(std::filesystem::path folder);
    SampleFile(const SampleFile&) = delete;
    SampleFile& operator=(const SampleFile&) = delete;

    // Closes the current file (deleting it with `OldFile::remove`) and creates a new empty temporary
    // file. Never reuses an existing name. When the folder or the file cannot be created, logs at error
    // what to do, `path()` still names the new path and appends fail until the next `begin`.
    void begin(OldFile old);

    // Appends `pieces` (whole packets), in order, at the end of the current file. On an error nothing
    // of them stays in the file and the error's text is returned.
    tl::expected<void, std::string> append(std::span<const std::span<const std::uint8_t>> pieces);
    tl::expected<void, std::string> append(std::span<const std::uint8_t> bytes);

    // Renames the current file to `fileName` in the same folder without replacing an existing file.
    // On success `path()` names the new file; on failure it keeps the old name and the error's text is
    // returned. Later appends still reach the file under its new name.
    tl::expected<void, std::string> rename(const std::string& fileName);

    // Closes and deletes the current file; a failure is logged at critical. `path()` keeps its value.
    void remove();

    const std::optional<std::filesystem::path>& path() const { return path_; }
    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
    std::optional<std::filesystem::path> path_;
    common::FileDescriptor descriptor_;
    std::optional<std::string> openError_;  // why there is no descriptor for `path_`
    std::uint64_t size_ = 0;                // bytes in the current file
};

// "sensors_temp_<seconds>.bin" for a time given as seconds since 1970 (shortest decimal text).
std::string temporarySampleFileName(double secondsSince1970);
// "sensors_<firstPacketIndex>.bin".
std::string segmentFileName(std::int64_t firstPacketIndex);

}  // namespace brisel::device
