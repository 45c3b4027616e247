// The handler of the fatal signals (SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGFPE): writes a crash marker
// with async-signal-safe calls only, then restores the default action and raises the signal again, so
// the process still ends as it would have.
//
// The fatal signals are blocked while it runs: a fault inside it (a corrupt stack) ends the process
// at once. Should it still be entered again on the same thread, it ends the process the same way
// without writing; another thread that crashes meanwhile waits at most 5 s for the first one's marker,
// then ends the process with its own signal.
//
// The marker is a small text file (crash_marker.h reads it at the next start):
//   velko-crash 2
//   signal <number>
//   module <start hex> <end hex> <load bias hex> <build id> <path>   one per object loaded when installed
//   frame <address hex>                                   innermost first, at most kMaxCrashFrames
// The build id is the object's GNU build-id note as lowercase hexadecimal digits, read from memory
// when the handler is installed, or "-" when it has none. Frames are named at the next start
// (crash_symbols.h), only from a file with that build id: reading symbol tables is not signal-safe,
// and by then the file at the object's path may belong to another build.
#pragma once

#include <filesystem>

#include <tl/expected.hpp>

#include <string>

namespace brisel::desktop::components {

inline constexpr int kMaxCrashFrames = 128;

// Installs the handler for the process (replacing an earlier installation), writing the marker to
// `markerPath`, and an alternate signal stack for the calling thread so that a stack overflow of that
// thread is reported too. Records the loaded objects and their build ids now (none is loaded inside
// the handler, which allocates nothing). Errors:
// a readable reason (the path is too long, sigaction failed). Main thread, before other threads
// crash.
tl::expected<void, std::string> installCrashHandler(const std::filesystem::path& markerPath);

// Puts back the actions that were in force before installCrashHandler. Nothing when not installed.
void uninstallCrashHandler();

}  // namespace brisel::desktop::components
