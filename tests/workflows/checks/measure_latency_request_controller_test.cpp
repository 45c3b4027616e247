#include "workflows/checks/measure_latency_request_controller.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "common/utilities.h"
#include "support/fake_cloud.h"
#include "support/websocket_fixture.h"
#include "workflows/workflow_controllers.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using common::ModelKind;
using Controller = MeasureLatencyRequestController;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(MeasureLatencyTest, TheMeanLeavesOutTheFirstValueAndAnOverflowingSumIsNoValue) {
    struct Row {
        std::vector<std::int64_t> values;
        std::optional<std::int64_t> mean;
    };
    const std::vector<Row> rows{
        {{12, 10, 11}, 10},           {{10, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 1},
        {{5}, std::nullopt},          {{}, std::nullopt},
        {{0, kMax, 1}, std::nullopt}, {{-1, kMax, kMax}, std::nullopt},
        {{kMax, kMax}, kMax},         {{0, 1, 2, 2}, 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(meanLatencyAfterFirst(row.values), row.mean) << ::testing::PrintToString(row.values);
    }
}

cloud::BuildResponse buildWith(cloud::BuildStatus status, std::vector<std::string> keys) {
    cloud::BuildResponse build;
    build.id = 7;
    build.status = status;
    cloud::Model first;
    first.id = 5;
    first.kind = ModelKind::RANDOM_FOREST;
    cloud::Model twin = first;
    twin.kind = ModelKind::AUTOENCODER;
    cloud::Model other;
    other.id = 6;
    other.kind = ModelKind::AUTOENCODER;
    build.models = {first, twin, other};
    for (auto& key : keys) {
        build.results.push_back(cloud::ModelResult{.id = 1, .key = std::move(key), .runID = 7});
    }
    return build;
}

TEST(MeasureLatencyTest, TheModelIsTheFirstWithItsIdAndItsLibraryTheFirstKeyWithSlugDashAndBin) {
    const auto build =
        buildWith(cloud::BuildStatus::DONE, {"model-rf.bin", "orf-lib.txt", "x/orf-lib.bin", "rf-lib.bin"});
    const auto model = Controller::getModelFromBuild(build, 5);
    ASSERT_TRUE(model);
    EXPECT_EQ(model->kind, ModelKind::RANDOM_FOREST);
    EXPECT_FALSE(Controller::getModelFromBuild(build, 8));
    EXPECT_FALSE(Controller::getModelFromBuild(cloud::BuildResponse{}, 5));

    struct Row {
        const char* label;
        cloud::BuildStatus status;
        std::vector<std::string> keys;
        std::int64_t modelId;
        std::optional<std::string> key;
    };
    const std::vector<Row> rows{
        {"orf- holds rf- and comes first",
         cloud::BuildStatus::DONE,
         {"model-rf.bin", "orf-lib.txt", "x/orf-lib.bin", "rf-lib.bin"},
         5,
         "x/orf-lib.bin"},
        {"SUCCESS counts", cloud::BuildStatus::SUCCESS, {"rf-lib.bin"}, 5, "rf-lib.bin"},
        {"ACTIVE has none", cloud::BuildStatus::ACTIVE, {"rf-lib.bin"}, 5, std::nullopt},
        {"FAILED has none", cloud::BuildStatus::FAILED, {"rf-lib.bin"}, 5, std::nullopt},
        {"no result", cloud::BuildStatus::DONE, {}, 5, std::nullopt},
        {"ae- is not in aemca-", cloud::BuildStatus::DONE, {"aemca-lib.bin", "ae-lib.bin"}, 6, "ae-lib.bin"},
        {"case matters", cloud::BuildStatus::DONE, {"RF-lib.bin", "rf-lib.BIN"}, 5, std::nullopt},
    };
    for (const auto& row : rows) {
        const auto rowBuild = buildWith(row.status, row.keys);
        const auto rowModel = Controller::getModelFromBuild(rowBuild, row.modelId);
        ASSERT_TRUE(rowModel) << row.label;
        EXPECT_EQ(Controller::getModelLibraryKeyFromBuild(rowBuild, *rowModel), row.key) << row.label;
    }
}

class LatencyRequestTest : public test_support::WebSocketServerFixture {
  protected:
    void addControllers(frame::ControllerRegistry& registry) override {
        registerWorkflowControllers(registry);
    }

    std::string request(const std::string& command) const {
        return R"({")" + command +
               R"(": true, "command": "x", "scheme": "http", "host": "localhost", "port": ")" +
               std::to_string(cloud.port()) + R"(", "auth_token": "t", "run_id": 7, "model_id": 5})";
    }

    test::FakeCloud cloud;
};

// The service runs natively here; a translated process is the one case where it refuses the request.
TEST_F(LatencyRequestTest, ATranslatedProcessAndAWifiBoardAreRefusedWithOneErrorAndNoRestCall) {
    common::ScopedTranslatedProcessQuery translated([] { return tl::expected<std::int64_t, int>(1); });
    auto client = connect();
    ASSERT_TRUE(client.sendText(request("measure_latency")));
    ASSERT_TRUE(client.sendText(request("measure_latency_wifi")));
    const std::vector<std::string> expected{
        R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"latency","status":"ERROR",)"
        R"("data":{"message":"Latency calculation not supported for M1 Macbook. Attempted for run 7."}}})",
        R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"latency","status":"ERROR",)"
        R"("data":{"message":"Latency calculation currently not supported for wifi projects.:7"}}})"};
    for (const auto& reply : expected) {
        const auto received = client.receive(test_support::kReplyWait);
        ASSERT_TRUE(received);
        EXPECT_EQ(received->payload, reply);
    }
    EXPECT_FALSE(client.receive(std::chrono::milliseconds(300)));
    EXPECT_TRUE(WorkflowThreads::shared().waitUntilIdle(std::chrono::seconds(10)));
    EXPECT_TRUE(cloud.requests().empty());
    EXPECT_EQ(test_support::countLogged(log, "Current CPU: APPLE_M1"), 1U);
    EXPECT_EQ(test_support::countLogged(log, "Measure latency wifi request received"), 1U);
}

}  // namespace
}  // namespace brisel::workflows
