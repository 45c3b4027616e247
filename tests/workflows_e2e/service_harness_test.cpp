// The end-to-end harness itself: the service starts in the private namespaces with the simulator's
// environment, answers a browser, and its scaled waits are in force.
#include <gtest/gtest.h>

#include <fstream>

#include "support/eventually.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

TEST_F(WorkflowEndToEnd, ServiceAnswersTheHandshakeAndSeesTheFakeToolsAndTheScaledWaits) {
    startService(0.05);
    auto client = browser();
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 0})"));
    const auto reply = test_support::receiveContaining(client, "handshake", std::chrono::seconds(10));
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, R"({"command":"handshake","status":"OK","data":{"build":10240000008025}})");
    EXPECT_TRUE(std::ifstream("/usr/local/opt/velko/dfu-util").good());
    EXPECT_TRUE(std::ifstream("/usr/local/bin/openocd").good());
    EXPECT_TRUE(test_support::eventuallyContains([&] { return service->log(); }, "Waits are scaled by 0.05",
                                                 std::chrono::seconds(10)));
}

}  // namespace
}  // namespace brisel::test
