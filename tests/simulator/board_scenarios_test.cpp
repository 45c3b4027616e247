// Every scenario starts: its USB boards enumerate in their modes, its WiFi boards connect and are
// recognised by the service's WiFi server.
#include "support/board_scenarios.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>

#include "device/samples/sample_packet_builder.h"
#include "device/wifi/wifi_server.h"
#include "support/eventually.h"
#include "support/temporary_folder.h"

namespace brisel::test {

void PrintTo(const BoardScenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

namespace {

using namespace std::chrono_literals;
using test_support::eventually;

constexpr auto kWait = 10s;

class BoardScenarioTest : public testing::TestWithParam<BoardScenario> {};

TEST_P(BoardScenarioTest, ScenarioStarts) {
    const BoardScenario& scenario = GetParam();
    test_support::TemporaryFolder folder;
    device::WifiServerSettings settings;
    settings.port = 0;
    settings.scope = device::WifiListenScope::loopbackOnly;
    device::WifiServer server(settings);
    ASSERT_TRUE(server.start());
    auto simulator = BoardSimulator::create(folder.path());
    ASSERT_TRUE(simulator) << simulator.error();

    const StartedScenario started = startScenario(**simulator, scenario, server.port());

    ASSERT_EQ(started.usbBoards.size(), scenario.usbBoards.size());
    EXPECT_TRUE((*simulator)
                    ->usb()
                    .waitUntil(
                        [&](const std::vector<UsbBoardSnapshot>& boards) {
                            for (std::size_t i = 0; i < boards.size(); ++i) {
                                if (boards[i].mode != scenario.usbBoards[i].mode || !boards[i].devicePath) {
                                    return false;
                                }
                            }
                            return true;
                        },
                        kWait))
        << (*simulator)->stateJson().dump();
    if (!scenario.wifiBoards.empty()) {
        const auto wanted = scenario.wifiBoards[0].firmware.kind == FirmwareKind::classification
                                ? device::WifiMode::classify
                                : device::WifiMode::datacollect;
        EXPECT_TRUE(eventually(
            [&] {
                const auto connection = server.getConnection();
                return connection && connection->modeDetected() == wanted;
            },
            kWait));
    }
    if (scenario.libraryFirmware) {
        EXPECT_EQ(personalityOfImage(libraryImage(scenario)), scenario.libraryFirmware);
    }
    std::size_t relayed = 0;
    for (const auto& chunk : bluetoothRelayChunks(scenario)) {
        relayed += chunk.size();
    }
    EXPECT_EQ(relayed > 0, scenario.bluetoothPackets > 0);
}

INSTANTIATE_TEST_SUITE_P(Workflows, BoardScenarioTest, testing::ValuesIn(boardScenarios()),
                         [](const testing::TestParamInfo<BoardScenario>& row) {
                             std::string name = row.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(BoardScenariosTest, NamesAreUniqueAndFound) {
    std::set<std::string> names;
    for (const auto& scenario : boardScenarios()) {
        EXPECT_TRUE(names.insert(scenario.name).second) << scenario.name;
        EXPECT_EQ(findScenario(scenario.name), &scenario);
    }
    EXPECT_EQ(findScenario("no-such-scenario"), nullptr);
}

}  // namespace
}  // namespace brisel::test
