// One run of a flashing tool: start it, hold it as the process in flight, wait for it (bounded) and
// judge its result.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tl/expected.hpp>

#include "workflows/flash/flasher_error.h"

namespace brisel::workflows {

// The longest a tool may run (scaled). A tool still running then is sent SIGTERM, after
// kToolStopGrace SIGKILL, and the run fails like a failed flash.
inline constexpr std::chrono::milliseconds kToolRunLimit{std::chrono::seconds(300)};
inline constexpr std::chrono::milliseconds kToolStopGrace{std::chrono::seconds(3)};
// How long the output of an exited tool may still take to reach its end (a helper it started may hold
// the pipe). Not scaled: it only bounds a wait that normally ends at once.
inline constexpr std::chrono::milliseconds kToolOutputDrainLimit{std::chrono::seconds(2)};

// How much of a tool's output is kept (its end) for the judgement and the log line of a run.
inline constexpr std::size_t kToolOutputLimit = 1024 * 1024;

// Runs the tool of the flasher named `flasherName` at `path` with `args`:
// - no path: "<flasherName> not installed";
// - the tool cannot be started: the set-up guide text;
// - it exits with a status other than 0, is ended by a signal (also when the process in flight is
//   replaced or the connection ends) or outlives kToolRunLimit: logs at info "Failed to flash.[ No data
//   recieved from flashing.]. Flasher response: <output or nil>" and fails with failedToFlashText;
// - `args` is exactly "--list" on a translated machine and the output lacks "Found DFU:": the manual
//   DFU mode text.
// The output judged and logged is its last kToolOutputLimit bytes ("Found DFU:" counts anywhere in
// it); when more came, a line says so. Otherwise returns the exit status, 0. The started tool becomes the
// process in flight (RunningProcessManager::shared()), replacing (and terminating) the one before. Blocks the
// calling thread; any thread but the websocket thread.
tl::expected<int, FlasherError> runFlasherTool(std::string_view flasherName,
                                               const std::optional<std::filesystem::path>& path,
                                               const std::vector<std::string>& args);

}  // namespace brisel::workflows
