// Naming the frames of a crash at the next start: function names from the loaded objects' symbol
// tables and, where debugging information is installed, source file and line (elfutils' libdw).
#pragma once

#include "desktop/components/crash_marker.h"

namespace brisel::desktop::components {

// Fills symbol, symbolOffset, sourceFile and sourceLine of the frames whose object is known and
// still readable at the same path. Frames that cannot be named keep their address and object.
void symbolise(CrashMarker& marker);

}  // namespace brisel::desktop::components
