// Reading the crash marker that the fatal-signal handler left (crash_handler.h describes the format).
// The file is read at the next start; it is checked like any outside input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tl/expected.hpp>

namespace brisel::desktop::components {

struct CrashFrame {
    std::uintptr_t address = 0;
    std::optional<std::string> symbol;  // as the binary names it (mangled for C++)
    std::uintptr_t symbolOffset = 0;
    std::optional<std::string> module;  // the loaded object that holds the address
    std::uintptr_t moduleStart = 0;
    std::uintptr_t moduleBias = 0;  // what the object's addresses were shifted by when loaded
    // The object's GNU build id (lowercase hexadecimal digits) when the marker recorded one.
    std::optional<std::string> moduleBuildId;
    std::optional<std::string> sourceFile;  // where debugging information names one
    int sourceLine = 0;
};

struct CrashMarker {
    int signal = 0;
    std::vector<CrashFrame> frames;  // innermost first
};

// The most bytes of a marker that are read.
inline constexpr std::size_t kMaxCrashMarkerBytes = 1024 * 1024;

// Parses a marker; symbols stay empty (crash_symbols.h fills them). Lines that are not understood
// are skipped; at most kMaxCrashFrames frames are kept. Markers of the earlier format
// ("velko-crash 1") recorded no build ids: their frames have none. Errors: a readable reason when the
// first line is neither "velko-crash 1" nor "velko-crash 2" or there is no valid "signal" line (1 to
// 64).
tl::expected<CrashMarker, std::string> parseCrashMarker(std::string_view text);

// "SIGSEGV", "SIGABRT", ... for the fatal signals, "signal <n>" otherwise; and their descriptions
// ("Segmentation fault", ...).
std::string signalName(int signal);
std::string signalDescription(int signal);

}  // namespace brisel::desktop::components
