// A regular file opened to be sent as a request body, read piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include <tl/expected.hpp>

#include "cloud/http/result.h"

namespace brisel::cloud {

// Move-only owner of the open file. Not thread-safe; one owner.
class HttpBodyFile {
  public:
    // Opens `path` for reading and takes its size.
    // Errors: `fileUnreadable` when it is missing, unreadable or not a regular file.
    static tl::expected<HttpBodyFile, HttpError> open(const std::filesystem::path& path);

    HttpBodyFile(HttpBodyFile&& other) noexcept;
    HttpBodyFile& operator=(HttpBodyFile&& other) noexcept;
    HttpBodyFile(const HttpBodyFile&) = delete;
    HttpBodyFile& operator=(const HttpBodyFile&) = delete;
    ~HttpBodyFile();

    // The size when the file was opened: exactly this many bytes are handed out.
    std::uint64_t size() const { return size_; }

    // Reads the next bytes into `buffer`, never more than `size()` in all. Returns how many were
    // read: 0 once all were. Errors: `fileUnreadable` when reading fails or the file ends early.
    tl::expected<std::size_t, HttpError> readNext(std::span<char> buffer);

  private:
    HttpBodyFile(int descriptor, std::uint64_t size, std::filesystem::path path);

    int descriptor_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t bytesRead_ = 0;
    std::filesystem::path path_;
};

}  // namespace brisel::cloud
