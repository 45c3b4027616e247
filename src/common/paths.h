// Where the service keeps its files: the user's home, the log, the private temporary folder.
#pragma once

#include <filesystem>
#include <string>

#include <tl/expected.hpp>

namespace brisel::common {

// The user's home folder: $HOME when set and not empty, else the home of the user's password entry,
// else "/". Read on every call (tests point HOME at a temporary folder).
std::filesystem::path homeFolder();

// homeFolder() + "/.local/share/velko".
std::filesystem::path logFolderPath();

// logFolderPath() + "/desktop_client.log".
std::filesystem::path logFilePath();

// The user's private temporary folder: $TMPDIR (when absolute) or /tmp, then "velko-<uid>".
// Created with mode 0700 when missing; an existing one must be a real folder (not a link) owned by
// the user, and loses any group or other permissions. Errors: a readable reason (creation failed,
// the path is not a folder, another user owns it).
tl::expected<std::filesystem::path, std::string> privateTempFolder();

}  // namespace brisel::common
