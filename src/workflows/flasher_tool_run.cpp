#include "workflows/flasher_tool_run.h"

#include <mutex>

#include "common/logger.h"
#include "common/running_process_manager.h"
#include "common/time_scale.h"
#include "common/utf8.h"
#include "common/utilities.h"
#include "workflows/shell_command.h"

namespace brisel::workflows {
namespace {

// The tool's output as it arrives on the pipe thread, read when the tool has ended.
class ToolOutput {
  public:
    void append(std::span<const std::uint8_t> chunk) {
        std::lock_guard lock(mutex);
        bytes.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    }
    std::string text() const {
        std::lock_guard lock(mutex);
        return bytes;
    }

  private:
    mutable std::mutex mutex;
    std::string bytes;  // guarded by mutex
};

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
    auto output = std::make_shared<ToolOutput>();
    auto tool = shell(*path, args, std::nullopt, std::nullopt,
                      [output](std::span<const std::uint8_t> chunk) { output->append(chunk); });
    auto& inFlight = common::RunningProcessManager::shared();
    inFlight.setInFlightProcess(tool ? tool->child() : nullptr);
    if (!tool) {
        return tl::unexpected(FlasherError::flashFailed(setUpGuideText()));
    }
    const auto exit = awaitToolExit(*tool->child(), flasherName);
    tool->waitForOutputEnd(kToolOutputDrainLimit);
    const std::string text = output->text();
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
        if (!common::isValidUtf8(text) || text.find("Found DFU:") == std::string::npos) {
            return tl::unexpected(FlasherError::flashFailed(std::string(kManualDfuModeText)));
        }
    }
    return 0;
}

}  // namespace brisel::workflows
