#include "desktop/components/crash_reports/crash_marker.h"

#include <charconv>
#include <csignal>
#include <map>

#include "desktop/components/crash_reports/crash_handler.h"

namespace brisel::desktop::components {

namespace {

std::optional<std::uintptr_t> parseHex(std::string_view text) {
    if (!text.starts_with("0x") || text.size() < 3) {
        return std::nullopt;
    }
    std::uintptr_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size() ? std::optional(value) : std::nullopt;
}

// Splits off the first word of `rest` (up to a blank); `rest` keeps what follows the blank.
std::string_view nextWord(std::string_view& rest) {
    const std::size_t blank = rest.find(' ');
    const std::string_view word = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    return word;
}

struct Module {
    std::uintptr_t end;
    std::uintptr_t bias;
    std::optional<std::string> buildId;
    std::string path;
};

// A build id as the handler writes it: an even number of lowercase hexadecimal digits, at most 64
// bytes' worth.
bool isBuildId(std::string_view text) {
    return !text.empty() && text.size() % 2 == 0 && text.size() <= 128 &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

tl::expected<CrashMarker, std::string> parseCrashMarker(std::string_view text) {
    text = text.substr(0, kMaxCrashMarkerBytes);
    CrashMarker marker;
    std::map<std::uintptr_t, Module> modules;  // by start
    bool first = true;
    bool withBuildIds = false;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        if (first) {
            if (line != "velko-crash 1" && line != "velko-crash 2") {
                return tl::make_unexpected(std::string("not a crash marker"));
            }
            withBuildIds = line == "velko-crash 2";
            first = false;
            continue;
        }
        const std::string_view kind = nextWord(line);
        if (kind == "signal") {
            int signal = 0;
            const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), signal);
            if (error == std::errc() && end == line.data() + line.size() && signal >= 1 && signal <= 64) {
                marker.signal = signal;
            }
        } else if (kind == "module") {
            const auto start = parseHex(nextWord(line));
            const auto end = parseHex(nextWord(line));
            const auto bias = parseHex(nextWord(line));
            std::optional<std::string> buildId;
            if (withBuildIds) {
                const std::string_view id = nextWord(line);
                if (isBuildId(id)) {
                    buildId = std::string(id);
                } else if (id != "-") {
                    continue;
                }
            }
            if (start && end && bias && *start < *end && !line.empty() && modules.size() < 4096) {
                modules[*start] = Module{*end, *bias, std::move(buildId), std::string(line)};
            }
        } else if (kind == "frame" && marker.frames.size() < static_cast<std::size_t>(kMaxCrashFrames)) {
            const auto address = parseHex(nextWord(line));
            if (!address) {
                continue;
            }
            CrashFrame frame;
            frame.address = *address;
            marker.frames.push_back(std::move(frame));
        }
    }
    if (first || marker.signal == 0) {
        return tl::make_unexpected(std::string("the crash marker names no signal"));
    }
    for (CrashFrame& frame : marker.frames) {
        auto found = modules.upper_bound(frame.address);
        if (found != modules.begin() && frame.address < (--found)->second.end) {
            frame.module = found->second.path;
            frame.moduleStart = found->first;
            frame.moduleBias = found->second.bias;
            frame.moduleBuildId = found->second.buildId;
        }
    }
    return marker;
}

std::string signalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGABRT:
            return "SIGABRT";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        default:
            return "signal " + std::to_string(signal);
    }
}

std::string signalDescription(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "Segmentation fault";
        case SIGABRT:
            return "Aborted";
        case SIGBUS:
            return "Bus error";
        case SIGILL:
            return "Illegal instruction";
        case SIGFPE:
            return "Floating point exception";
        default:
            return "Fatal signal " + std::to_string(signal);
    }
}

}  // namespace brisel::desktop::components
