// How live-classification runs end, end to end: a silent serial board ends its run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classification_e2e.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using common::DeviceKind;

TEST_F(WorkflowEndToEnd, ASilentSerialBoardEndsItsRunWithNoData) {
    runsOn(*cloud, 7, "NANO_33_BLE");
    const BoardId board =
        simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, printing({}));
    startService();  // 175 reads that bring nothing, each waiting 1 ms instead of 50 ms
    auto client = browser();
    ASSERT_TRUE(client.sendText(serialStart(cloudFields(), 7)));
    EXPECT_EQ(nextFeature(client), classifyError("Classification ended with error noDataError"));
    EXPECT_TRUE(simulator->usb().waitUntil([&](const auto& all) { return all[board].speeds.size() == 1; },
                                           kReplyWait));
    const std::string log = service->log();
    EXPECT_NE(log.find("Received empty data from device for 175 cycles, throwing error back to browser"),
              std::string::npos);
    EXPECT_EQ(log.find("Got no data from device"), std::string::npos)
        << "nothing arriving in time is no read failure";
}

}  // namespace
}  // namespace brisel::test
