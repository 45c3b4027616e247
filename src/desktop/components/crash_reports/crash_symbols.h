// Naming the frames of a crash at the next start: function names from the loaded objects' symbol
// tables and, where debugging information is installed, source file and line (elfutils' libdw).
// Only local files are read: the object itself and separate debugging information found by build ID
// in the standard folders, never a debug-information server that the environment may name. A file is
// used only when its build id is the one the crash marker recorded for the object: after an update in
// place, the file at the object's path belongs to another build and would give wrong names.
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "desktop/components/crash_reports/crash_marker.h"

namespace brisel::desktop::components {

// Fills symbol, symbolOffset, sourceFile and sourceLine of the frames whose object is known with a
// build id, from the file at the object's path when it has that build id, otherwise from the separate
// debugging file of that build id (<folder>/.build-id/<2 digits>/<rest>.debug) under /usr/lib/debug.
// Frames that cannot be named keep their address and object (sent as object and offset). Looks at
// `stop` between frames; answers false when it stopped before the last frame. Any thread, one call at
// a time.
bool symbolise(CrashMarker& marker, std::stop_token stop = {});

// symbolise, looking for separate debugging files under `debugFolders` instead of /usr/lib/debug.
bool symboliseFrom(CrashMarker& marker, const std::vector<std::filesystem::path>& debugFolders,
                   std::stop_token stop = {});

// The GNU build id of the ELF file at `file`, as lowercase hexadecimal digits; none when it has none,
// is not a regular file or cannot be read. Any thread.
std::optional<std::string> fileBuildId(const std::filesystem::path& file);

}  // namespace brisel::desktop::components
