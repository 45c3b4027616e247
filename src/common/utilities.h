// Small helpers shared by the layers: a blocking sleep, the machine-kind check, a quantile, dictionary
// helpers, a folder test and the device-manager command options. The JSON value of any type
// (`AnyEncodable`) is part of the JSON codec (json_codec.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <tl/expected.hpp>

namespace brisel::common {

// Blocks the calling thread for the number of seconds, measured on the steady clock. Zero,
// negative and NaN return at once; longer than 100 years is cut to 100 years.
void crossPlatformSleep(double seconds);

// The machine kind; raw values are the case names.
enum class CPUType { APPLE_M1, APPLE_INTEL, UNDEFINED, WINDOWS };

std::string_view rawValue(CPUType cpu);
// The kind whose raw value is exactly `text`; none otherwise.
std::optional<CPUType> cpuTypeFromRawValue(std::string_view text);

// The answer to "does this process run translated?": the value read (1 translated, 0 native), or
// the errno of a failed query. Linux translates nothing and has no such query: the default answer
// is ENOENT ("no such name"), which means a native process.
using TranslatedProcessQuery = std::function<tl::expected<std::int64_t, int>()>;

// 1 gives APPLE_M1; 0 or the error ENOENT gives APPLE_INTEL; anything else UNDEFINED. Never WINDOWS.
CPUType currentCPU();
// currentCPU() == APPLE_M1.
bool isM1();

// The environment variable with which test runs of brisel_core make it a translated process ("1").
inline constexpr std::string_view kTranslatedProcessVariable{"BRISEL_TRANSLATED_PROCESS"};

// Reads BRISEL_TRANSLATED_PROCESS once at start: "1" makes the query answer 1 (translated) for the rest
// of the process. Returns whether it did. Call once, at the start of the program.
bool applyTranslatedProcessFromEnvironment();

// Replaces the query for the life of the object (tests). Not nestable across threads.
class ScopedTranslatedProcessQuery {
  public:
    explicit ScopedTranslatedProcessQuery(TranslatedProcessQuery query);
    ~ScopedTranslatedProcessQuery();
    ScopedTranslatedProcessQuery(const ScopedTranslatedProcessQuery&) = delete;
    ScopedTranslatedProcessQuery& operator=(const ScopedTranslatedProcessQuery&) = delete;

  private:
    TranslatedProcessQuery previous;
};

// The value at `fraction` (0 to 1) of the sorted values, interpolating linearly between neighbours
// in double precision: 0 the minimum, 0.5 the median, 1 the maximum. None for an empty list and for
// a fraction below 0, above 1 or NaN. NaN values sort after every number.
std::optional<double> quantile(std::span<const float> values, double fraction);

// The keys whose value equals `value`, in the map's iteration order.
template <typename Map>
std::vector<typename Map::key_type> allKeys(const Map& map, const typename Map::mapped_type& value) {
    std::vector<typename Map::key_type> keys;
    for (const auto& [key, mapped] : map) {
        if (mapped == value) {
            keys.push_back(key);
        }
    }
    return keys;
}

// A dictionary from each key of the (key, value) pairs to the list of its values, in the order in
// which the pairs came.
template <typename Key, typename Value, typename Pairs>
std::unordered_map<Key, std::vector<Value>> groupingByKey(const Pairs& pairs) {
    std::unordered_map<Key, std::vector<Value>> groups;
    for (const auto& [key, value] : pairs) {
        groups[key].push_back(value);
    }
    return groups;
}

// True when the path names an existing folder (links followed); false on any error.
bool isDirectory(const std::filesystem::path& path);

// The working folder and device-manager command given on a command line.
class ServerRunCommand {
  public:
    // The defaults: pwd "~/src/brisel" and the device-manager wrapper of that folder.
    ServerRunCommand();
    // Walks all arguments (the program path first): "--pwd X" sets pwd, "--device-manager-command X"
    // sets deviceManagerCommand; a later option wins; an option without a following value is ignored.
    explicit ServerRunCommand(std::span<const std::string> arguments);
    // As above, with the arguments of this process (/proc/self/cmdline); defaults when unreadable.
    static ServerRunCommand fromProcessCommandLine();

    std::string pwd;
    std::string deviceManagerCommand;
};

}  // namespace brisel::common
