#include "workflows/flash/flasher_tool_run.h"

#include <memory>
#include <string_view>

#include "common/logger.h"
#include "common/running_process_manager.h"
#include "common/time_scale.h"
#include "common/utf8.h"
#include "common/utilities.h"
#include "workflows/flash/shell_command.h"
#include "workflows/flash/tool_output_tail.h"

namespace brisel::workflows {
namespace {

// The text of a DFU listing that names a board in DFU mode.
constexpr std::string_view kDfuFoundText = "Found DFU:";

// Waits for the tool's exit; stops it when it outlives the limit. None: not even SIGKILL ended it
// within its grace.
std::optional<common::ProcessExit> awaitToolExit(common::ChildProcess& child, std::string_view flasherName) {
    if (auto exit = child.waitForExit(common::scaled(kToolRunLimit))) {
        return exit;
    }
    common::logger().error(std::string(flasherName) + " still runs after " +
                           std::to_string(common::scaled(kToolRunLimit).count()) + " ms; stopping it");
    child.terminate();
    if (auto exit = child.waitForExit(common::scaled(kToolStopGrace))) {
        return exit;
    }
    child.kill();
    return child.waitForExit(common::scaled(kToolStopGrace));
}

}  // namespace

tl::expected<int, FlasherError> runFlasherTool(std::string_view flasherName,
                                               const std::optional<std::filesystem::path>& path,
                                               const std::vector<std::string>& args) {
    if (!path) {
        return tl::unexpected(FlasherError::flashFailed(notInstalledText(flasherName)));
    }
    auto output = std::make_shared<ToolOutputTail>(kToolOutputLimit, std::string(kDfuFoundText));
    auto tool = shell(*path, args, std::nullopt, std::nullopt,
                      [output](std::span<const std::uint8_t> chunk) { output->append(chunk); });
    auto& inFlight = common::RunningProcessManager::shared();
    inFlight.setInFlightProcess(tool ? tool->child() : nullptr);
    if (!tool) {
        return tl::unexpected(FlasherError::flashFailed(setUpGuideText()));
    }
    const auto exit = awaitToolExit(*tool->child(), flasherName);
    tool->waitForOutputEnd(kToolOutputDrainLimit);
    const auto kept = output->kept();
    if (kept.cut()) {
        common::logger().info(std::string(flasherName) + " wrote " + std::to_string(kept.totalBytes) +
                              " bytes of output; only its last " + std::to_string(kept.text.size()) +
                              " bytes are kept.");
    }
    const std::string& text = kept.text;
    const bool succeeded = exit && exit->kind == common::ExitKind::exited && exit->value == 0;
    if (!succeeded) {
        const bool readable = !text.empty() && common::isValidUtf8(text);
        std::string summary(kFailedToFlashSummary);
        if (!readable) {
            summary += kNoFlasherOutputText;
        }
        common::logger().info(summary + ". Flasher response: " + (common::isValidUtf8(text) ? text : "nil"));
        return tl::unexpected(FlasherError::flashFailed(failedToFlashText(summary)));
    }
    if (args.size() == 1 && args.front() == "--list" && common::isM1()) {
        if (!common::isValidUtf8(text) || !kept.watchedSeen) {
            return tl::unexpected(FlasherError::flashFailed(std::string(kManualDfuModeText)));
        }
    }
    return 0;
}

}  // namespace brisel::workflows
