#include "common/utilities.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

namespace brisel::common {
namespace {

struct TranslatedProcessQueryHolder {
    std::mutex mutex;
    TranslatedProcessQuery query;  // guarded by mutex; empty means the Linux default
};

TranslatedProcessQueryHolder& translatedProcessQueryHolder() {
    static TranslatedProcessQueryHolder holder;
    return holder;
}

tl::expected<std::int64_t, int> askWhetherTranslated() {
    TranslatedProcessQuery query;
    {
        auto& holder = translatedProcessQueryHolder();
        std::lock_guard lock(holder.mutex);
        query = holder.query;
    }
    if (query) {
        return query();
    }
    return tl::unexpected(ENOENT);
}

}  // namespace

void crossPlatformSleep(double seconds) {
    constexpr double kLongest = 100.0 * 365 * 24 * 3600;
    if (!(seconds > 0)) {
        return;
    }
    std::chrono::duration<double> interval(std::min(seconds, kLongest));
    std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::nanoseconds>(interval));
}

std::string_view rawValue(CPUType cpu) {
    switch (cpu) {
        case CPUType::APPLE_M1:
            return "APPLE_M1";
        case CPUType::APPLE_INTEL:
            return "APPLE_INTEL";
        case CPUType::UNDEFINED:
            return "UNDEFINED";
        case CPUType::WINDOWS:
            return "WINDOWS";
    }
    return "UNDEFINED";
}

std::optional<CPUType> cpuTypeFromRawValue(std::string_view text) {
    for (CPUType cpu : {CPUType::APPLE_M1, CPUType::APPLE_INTEL, CPUType::UNDEFINED, CPUType::WINDOWS}) {
        if (rawValue(cpu) == text) {
            return cpu;
        }
    }
    return std::nullopt;
}

CPUType currentCPU() {
    auto answer = askWhetherTranslated();
    std::int64_t translated = answer ? *answer : (answer.error() == ENOENT ? 0 : -1);
    switch (translated) {
        case 1:
            return CPUType::APPLE_M1;
        case 0:
            return CPUType::APPLE_INTEL;
        default:
            return CPUType::UNDEFINED;
    }
}

bool isM1() {
    return currentCPU() == CPUType::APPLE_M1;
}

bool applyTranslatedProcessFromEnvironment() {
    const char* value = std::getenv(std::string(kTranslatedProcessVariable).c_str());
    if (value == nullptr || std::string_view(value) != "1") {
        return false;
    }
    auto& holder = translatedProcessQueryHolder();
    std::lock_guard lock(holder.mutex);
    holder.query = [] {
        return std::int64_t{1};
    };
    return true;
}

ScopedTranslatedProcessQuery::ScopedTranslatedProcessQuery(TranslatedProcessQuery query) {
    auto& holder = translatedProcessQueryHolder();
    std::lock_guard lock(holder.mutex);
    previous = std::exchange(holder.query, std::move(query));
}

ScopedTranslatedProcessQuery::~ScopedTranslatedProcessQuery() {
    auto& holder = translatedProcessQueryHolder();
    std::lock_guard lock(holder.mutex);
    holder.query = std::move(previous);
}

std::optional<double> quantile(std::span<const float> values, double fraction) {
    if (!(fraction >= 0.0 && fraction <= 1.0) || values.empty()) {
        return std::nullopt;
    }
    std::vector<float> sorted(values.begin(), values.end());
    // A strict weak order even with NaN in the list: NaN after every number.
    std::sort(sorted.begin(), sorted.end(), [](float left, float right) {
        if (std::isnan(left)) {
            return false;
        }
        return std::isnan(right) || left < right;
    });
    double position = static_cast<double>(sorted.size() - 1) * fraction;
    auto lower = static_cast<std::size_t>(position);
    double weight = position - static_cast<double>(lower);
    if (lower >= sorted.size() - 1) {
        return static_cast<double>(sorted.back());
    }
    if (weight == 0.0) {
        return static_cast<double>(sorted[lower]);
    }
    return (1.0 - weight) * static_cast<double>(sorted[lower]) +
           weight * static_cast<double>(sorted[lower + 1]);
}

bool isDirectory(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

ServerRunCommand::ServerRunCommand()
    : pwd("~/src/brisel"),
      deviceManagerCommand("python3 ~/src/brisel/device_manager/run_device_manager.py") {}

ServerRunCommand::ServerRunCommand(std::span<const std::string> arguments) : ServerRunCommand() {
    for (std::size_t index = 0; index + 1 < arguments.size(); ++index) {
        if (arguments[index] == "--device-manager-command") {
            deviceManagerCommand = arguments[index + 1];
        } else if (arguments[index] == "--pwd") {
            pwd = arguments[index + 1];
        }
    }
}

ServerRunCommand ServerRunCommand::fromProcessCommandLine() {
    std::ifstream input("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    std::string argument;
    while (std::getline(input, argument, '\0')) {
        arguments.push_back(argument);
    }
    return ServerRunCommand(arguments);
}

}  // namespace brisel::common
