// Running a flashing tool: the texts of every outcome, the bound on a tool that never ends, and what a
// child of the service gets (input, output, working folder, descriptors).
#include "workflows/flash/flasher_tool_run.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <fstream>
#include <mutex>

#include "common/paths.h"
#include "common/running_process_manager.h"
#include "common/time_scale.h"
#include "common/utilities.h"
#include "support/log_capture.h"
#include "support/temporary_folder.h"
#include "workflows/flash/shell_command.h"

namespace brisel::workflows {
namespace {

using namespace std::chrono_literals;

class FlasherToolRunTest : public ::testing::Test {
  protected:
    // An executable shell script with `body`.
    std::filesystem::path tool(const std::string& body) {
        const auto path = folder.path() / ("tool" + std::to_string(++tools));
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    test_support::TemporaryFolder folder;
    test_support::LogCapture log;
    int tools = 0;
};

TEST_F(FlasherToolRunTest, EveryOutcomeHasItsText) {
    const std::string guide =
        " Please make sure the device is set up correctly and try again or email "
        "support@velko.com for personalized support.";
    struct Row {
        std::string label;
        std::string body;
        std::optional<std::string> message;  // none: success
        std::string logLine;
    };
    const std::vector<Row> rows{
        {"success", "echo Done; exit 0", std::nullopt, ""},
        {"status 1 with output", "echo 'No device found'; exit 1", "    Failed to flash." + guide,
         "Failed to flash.. Flasher response: No device found\n"},
        {"status 1 without output", "exit 1", "    Failed to flash. No data recieved from flashing." + guide,
         "Failed to flash. No data recieved from flashing.. Flasher response: "},
        {"standard error only", "echo 'probe lost' >&2; exit 3", "    Failed to flash." + guide,
         "Flasher response: probe lost\n"},
        {"not UTF-8", "printf '\\377\\376'; exit 1",
         "    Failed to flash. No data recieved from flashing." + guide, "Flasher response: nil"},
        {"ended by a signal", "echo half; kill -KILL $$", "    Failed to flash." + guide,
         "Flasher response: half\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const auto result = runFlasherTool("Bossac", tool(row.body), {"--write", "image.bin"});
        if (!row.message) {
            EXPECT_TRUE(result.has_value());
            continue;
        }
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), FlasherError::flashFailed(*row.message));
        EXPECT_TRUE(log.contains(row.logLine));
    }
}

TEST_F(FlasherToolRunTest, AMissingToolIsNotInstalledOrCannotStart) {
    const auto absent = runFlasherTool("OpenOcd", std::nullopt, {"-c", "init"});
    EXPECT_EQ(absent.error(), FlasherError::flashFailed("OpenOcd not installed"));
    const auto missing = runFlasherTool("DfuUtil", folder.path() / "no-such-tool", {"--list"});
    EXPECT_EQ(missing.error(), FlasherError::flashFailed(
                                   "Please make sure the set up guide was followed and try again or email "
                                   "support@velko.com for personalized support."));
    EXPECT_EQ(
        log.count("Failed to start task " + (folder.path() / "no-such-tool").string() + " due to error "),
        1U);
    EXPECT_EQ(common::RunningProcessManager::shared().inFlightProcess(), nullptr);
}

TEST_F(FlasherToolRunTest, TheDfuListingCountsOnlyOnATranslatedMachine) {
    const auto empty = tool("echo 'nothing here'");
    const auto found = tool("echo 'Found DFU: [0483:df11]'");
    EXPECT_TRUE(runFlasherTool("DfuUtil", empty, {"--list"}).has_value());
    common::ScopedTranslatedProcessQuery translated([] { return std::int64_t{1}; });
    EXPECT_TRUE(runFlasherTool("DfuUtil", found, {"--list"}).has_value());
    EXPECT_EQ(runFlasherTool("DfuUtil", empty, {"--list"}).error(),
              FlasherError::flashFailed("Must manually set the device to DFU mode for M1 Macbook"));
    EXPECT_TRUE(runFlasherTool("DfuUtil", empty, {"-l"}).has_value());
}

TEST_F(FlasherToolRunTest, AToolThatNeverEndsIsStoppedAtTheLimitAndItsPidNeverSignalledAgain) {
    ASSERT_TRUE(common::setTimeScale(0.001));  // a limit of 300 ms, a grace of 3 ms
    const auto stubborn = tool("trap '' TERM\necho waiting\nwhile :; do sleep 1; done");
    const auto result = runFlasherTool("HaldenFlasher", stubborn, {});
    ASSERT_TRUE(common::setTimeScale(1.0));
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message.substr(0, 20), "    Failed to flash.");
    EXPECT_TRUE(log.contains("HaldenFlasher still runs after 300 ms; stopping it"));
    const auto held = common::RunningProcessManager::shared().inFlightProcess();
    ASSERT_NE(held, nullptr);
    ASSERT_TRUE(held->exitStatus().has_value());
    EXPECT_EQ(held->exitStatus()->kind, common::ExitKind::killedBySignal);
    EXPECT_EQ(held->terminate(), common::TerminateResult::alreadyExited);
}

TEST_F(FlasherToolRunTest, AChildGetsItsInputWholeAndNothingElseOfTheService) {
    // A socket of the service, inheritable on purpose: the child must still not see it.
    int sockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    std::mutex mutex;
    std::string output;
    auto collect = [&](std::span<const std::uint8_t> chunk) {
        std::lock_guard lock(mutex);
        output.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    };
    const std::string large(1 << 20, 'x');
    auto child = shell("/bin/sh", {"-c", "head -c 1048577 | wc -c; ls -l /proc/self/fd/ >&2"}, large,
                       std::nullopt, collect);
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(child->child()->waitForExit(30s).has_value());
    ASSERT_TRUE(child->waitForOutputEnd(10s));
    ::close(sockets[0]);
    ::close(sockets[1]);
    std::lock_guard lock(mutex);
    EXPECT_EQ(output.substr(0, output.find('\n')), "1048577");
    EXPECT_EQ(output.find("socket:"), std::string::npos) << output;

    std::filesystem::create_directories(common::homeFolder() / "work");
    std::string where;
    auto inHome =
        shell("/bin/sh", {"-c", "pwd; cat"}, std::nullopt, "~/work",
              [&](std::span<const std::uint8_t> chunk) { where.append(chunk.begin(), chunk.end()); });
    ASSERT_NE(inHome, nullptr);
    // `cat` ends at once: without input text the child reads /dev/null.
    ASSERT_TRUE(inHome->child()->waitForExit(30s).has_value());
    ASSERT_TRUE(inHome->waitForOutputEnd(10s));
    inHome.reset();
    EXPECT_EQ(where, (common::homeFolder() / "work").string() + "\n");
}

// Only the end of a long output is held, cut at a character; the DFU text counts anywhere in it.
TEST_F(FlasherToolRunTest, OfALongOutputTheLastMebibyteIsJudgedAndLoggedAndTheCutIsSaid) {
    // 2,400,010 bytes of which the first kept byte is inside a character.
    const auto verbose =
        tool("printf a; yes 'é' | head -n 1200000 | tr -d '\\n'; printf '\\nthe end\\n'; exit 1");
    ASSERT_FALSE(runFlasherTool("Bossac", verbose, {}).has_value());
    EXPECT_TRUE(log.contains("Bossac wrote 2400010 bytes of output; only its last 1048575 bytes are kept."));
    const auto lines = log.lines();
    const auto failure = std::find_if(lines.begin(), lines.end(), [](const auto& line) {
        return line.text.find("Flasher response: ") != std::string::npos;
    });
    ASSERT_NE(failure, lines.end());
    const std::string response = failure->text.substr(failure->text.find("Flasher response: ") + 18);
    EXPECT_EQ(response.size(), 1048575U);
    EXPECT_TRUE(response.starts_with("\xC3\xA9"));
    EXPECT_TRUE(response.ends_with("\nthe end\n"));

    common::ScopedTranslatedProcessQuery translated([] { return std::int64_t{1}; });
    const auto listing = tool("echo 'Found DFU: [0483:df11]'; head -c 3000000 /dev/zero | tr '\\0' x");
    EXPECT_TRUE(runFlasherTool("DfuUtil", listing, {"--list"}).has_value());
}

}  // namespace
}  // namespace brisel::workflows
