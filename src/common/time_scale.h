// The scale of the service's fixed waits (retries, reconnections, board and tool waits).
//
// The service always runs its waits at their full length. Tests of the real program shorten them
// all by one factor: `brisel_core` reads the environment variable BRISEL_TIME_SCALE once at start
// (a fraction in (0, 1]; anything else is ignored), and in-process tests call setTimeScale().
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace brisel::common {

// The name of the environment variable that brisel_core reads at start.
inline constexpr std::string_view kTimeScaleVariable{"BRISEL_TIME_SCALE"};

// The factor in force, 1 unless changed. Any thread.
double timeScale();

// Sets the factor; a value outside (0, 1] (or NaN) is refused and leaves the factor unchanged.
// Returns whether it was taken. Call it before the waits that should see it start. Any thread.
bool setTimeScale(double factor);

// The factor that `text` states, when it is a decimal number in (0, 1]. Pure.
std::optional<double> parseTimeScale(std::string_view text);

// Reads BRISEL_TIME_SCALE from the environment and applies it when valid. Returns the factor taken,
// or none when the variable is absent or invalid. Call once, at the start of the program.
std::optional<double> applyTimeScaleFromEnvironment();

// `duration` times the factor in force, at least 1 ms (a wait is never shortened to nothing).
std::chrono::milliseconds scaled(std::chrono::milliseconds duration);

}  // namespace brisel::common
