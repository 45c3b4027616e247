// tools/board_simulator: lists the scenarios, runs one, and leaves the environment and state files an
// end-to-end run needs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "common/child_process.h"
#include "common/file_descriptor.h"
#include "support/board_scenarios.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/shell_command.h"
#include "support/temporary_folder.h"

namespace brisel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test_support::eventually;
using test_support::readText;

TEST(BoardSimulatorProgramTest, ListsEveryScenario) {
    test_support::TemporaryFolder folder;
    const fs::path out = folder.path() / "list.out";
    const std::string command =
        std::string("'") + BRISEL_BOARD_SIMULATOR + "' --list >'" + out.string() + "'";

    ASSERT_EQ(runShell(command), 0);

    const std::string listing = readText(out);
    for (const auto& scenario : boardScenarios()) {
        EXPECT_NE(listing.find(scenario.name + " "), std::string::npos) << scenario.name;
    }
}

TEST(BoardSimulatorProgramTest, RunsAScenarioUntilTerminatedAndWritesItsState) {
    test_support::TemporaryFolder folder;
    common::SpawnOptions options;
    options.executable = BRISEL_BOARD_SIMULATOR;
    options.arguments = {"latency", folder.path().string()};
    auto simulator = common::ChildProcess::spawn(options);
    ASSERT_TRUE(simulator) << simulator.error().message;

    ASSERT_TRUE(eventually([&] { return fs::exists(folder.path() / "environment"); }, 10000ms));
    const std::string environment = readText(folder.path() / "environment");
    EXPECT_NE(environment.find("UMOCKDEV_DIR=/"), std::string::npos) << environment;
    EXPECT_NE(environment.find("BRISEL_SIM_TOOL_SOCKET=" + (folder.path() / "tools.sock").string()),
              std::string::npos);
    EXPECT_EQ(personalityOfImage([&] {
                  const std::string image = readText(folder.path() / "library.bin");
                  return std::vector<std::uint8_t>(image.begin(), image.end());
              }()),
              findScenario("latency")->libraryFirmware);
    (*simulator)->terminate();
    const auto exit = (*simulator)->waitForExit(10s);

    ASSERT_TRUE(exit);
    EXPECT_EQ(*exit, (common::ProcessExit{common::ExitKind::exited, 0}));
    const auto state = nlohmann::json::parse(readText(folder.path() / "state.json"), nullptr, false);
    ASSERT_FALSE(state.is_discarded());
    ASSERT_EQ(state["usbBoards"].size(), 1U);
    EXPECT_EQ(state["usbBoards"][0]["kind"], "NANO_33_BLE");
    EXPECT_EQ(state["usbBoards"][0]["mode"], "application");
}

}  // namespace
}  // namespace brisel::test
