// Naming the frames of a crash at the next start: function names from the loaded objects' symbol
// tables and, where debugging information is installed, source file and line (elfutils' libdw).
// Only local files are read: the object itself and separate debugging information found by build ID
// in the standard folders, never a debug-information server that the environment may name.
#pragma once

#include <stop_token>

#include "desktop/components/crash_reports/crash_marker.h"

namespace brisel::desktop::components {

// Fills symbol, symbolOffset, sourceFile and sourceLine of the frames whose object is known and
// still readable at the same path. Frames that cannot be named keep their address and object.
// Looks at `stop` between frames; answers false when it stopped before the last frame. Any thread,
// one call at a time.
bool symbolise(CrashMarker& marker, std::stop_token stop = {});

}  // namespace brisel::desktop::components
