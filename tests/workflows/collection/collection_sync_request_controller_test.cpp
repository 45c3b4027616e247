#include "workflows/collection/collection_sync_request_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cloud/authorization.h"
#include "support/fake_cloud.h"
#include "support/websocket_fixture.h"
#include "workflows/workflow_controllers.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using test::ScriptedReply;

class CollectionSyncTest : public test_support::WebSocketServerFixture {
  protected:
    void addControllers(frame::ControllerRegistry& registry) override {
        registerWorkflowControllers(registry);
    }

    static std::string request(std::int64_t id) {
        return R"({"collectionSyncRequest": true, "collection_id": )" + std::to_string(id) +
               R"(, "project_id": 9, "host": "localhost", "auth_token": "t", "port": "1", "deviceKind": "NANO_33_BLE"})";
    }

    // The status and message of the sync's last reply.
    static std::string finalReply(test_support::WebSocketTestClient& client) {
        while (auto received = client.receive(test_support::kReplyWait)) {
            const auto payload = nlohmann::json::parse(received->payload)["data"];
            const std::string status = payload["status"];
            if (status != "MESSAGE") {
                return status + ": " + payload["data"]["message"].get<std::string>();
            }
        }
        return "no reply";
    }

    test::FakeCloud cloud;
};

// A sync logs the success of each status report it sends: UPLOAD and DONE, or ERROR when the folder
// cannot be read through (a foreign folder that holds a file cannot be removed).
TEST_F(CollectionSyncTest, EveryStatusReportLogsItsSuccess) {
    struct Row {
        std::int64_t id;
        const char* entry;
        std::string reply;
        std::vector<std::string> logged;
    };
    const std::vector<Row> rows{
        {90,
         "sensors_0.bin",
         "SUCCESS: Uploaded data collection files to collection 90",
         {"API notified of upload status", "API notified of done status"}},
        {91,
         "stray/kept.txt",
         "ERROR: Error uploading data collection files for collection 91",
         {"Status set to error"}},
    };
    cloud::Authorization::shared().setSharedBaseURL(cloud.baseUrl());
    auto client = connect();
    for (const Row& row : rows) {
        const std::string path = "/api/collection/" + std::to_string(row.id);
        cloud.reply("POST", path + "/json", ScriptedReply::json(200, "{}"));
        cloud.reply(
            "PATCH", path + "/data_collection/status",
            ScriptedReply::json(200, R"({"collection_id": 1, "started_at": "s", "status": "RUNNING"})"));
        const auto entry = *CollectionSyncRequestController::getCollectionFolderURL(row.id) / row.entry;
        std::filesystem::create_directories(entry.parent_path());
        std::ofstream(entry, std::ios::binary) << "data";

        ASSERT_TRUE(client.sendText(request(row.id)));
        EXPECT_EQ(finalReply(client), row.reply);
        for (const std::string& line : row.logged) {
            EXPECT_TRUE(waitForLogged(line, 1)) << line;
        }
    }
    EXPECT_TRUE(WorkflowThreads::shared().waitUntilIdle(test_support::kReplyWait));
}

}  // namespace
}  // namespace brisel::workflows
