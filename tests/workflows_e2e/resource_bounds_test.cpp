// A page and a cloud that ask too much, end to end: a flood of requests against a cloud that never
// answers runs a bounded number of workflows on a bounded number of threads and refuses the rest as
// busy, and a reply that never ends fails its request within bounded memory.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/dispatch.h"
#include "support/raw_tcp_server.h"
#include "workflow_e2e_fixture.h"
#include "workflows/workflow_threads.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 60s;

// Requests in the flood: a few hundred, or BRISEL_FLOOD_REQUESTS for a measurement run.
std::size_t floodRequests() {
    const char* value = std::getenv("BRISEL_FLOOD_REQUESTS");
    return value != nullptr ? std::stoul(value) : 400;
}

std::string startRequest(int port) {
    return R"({"startDataCollection": true, "command": "start", "project_id": 9, "scheme": "http", )"
           R"("host": "localhost", "port": ")" +
           std::to_string(port) +
           R"(", "auth_token": "t", "kind": "TRAINING", "num_instances": 1, "label": "l", )"
           R"("dataset_name": "d", "sensor_config": [], "data_collection_type": "USB"})";
}

// The "status" and "data" of the next "datacollection" reply, or none within kWait.
std::optional<nlohmann::json> nextCollectionReply(test_support::WebSocketTestClient& client) {
    auto text = test_support::receiveContaining(client, "\"datacollection\"", kWait);
    if (!text) {
        return std::nullopt;
    }
    return nlohmann::json::parse(*text)["data"];
}

using ResourceBounds = WorkflowEndToEnd;

TEST_F(ResourceBounds, AFloodOfRequestsRunsBoundedWorkflowsAndTheRestAreToldTheServiceIsBusy) {
    // Takes every connection and never answers: each accepted collection waits for its cloud.
    RawTcpServer silent({{RawExchange::Reading::headerOnly, "", RawExchange::Ending::stayOpen}});
    startService();
    auto client = browser();
    const std::size_t kRequests = floodRequests();
    const std::uintmax_t memoryBefore = test_support::processStatusField(service->pid(), "VmRSS");
    const std::vector<std::string> requests(kRequests, startRequest(silent.port()));
    ASSERT_TRUE(client.sendMessages(requests));
    // Answered while the service still works through the flood.
    const auto handshakeStart = std::chrono::steady_clock::now();
    auto second = browser();
    ASSERT_TRUE(second.sendText(R"({"buildNumber": 0})"));
    const bool answered = test_support::receiveContaining(second, "\"handshake\"", kWait).has_value();
    const auto handshake = std::chrono::steady_clock::now() - handshakeStart;

    std::size_t started = 0;
    std::size_t refused = 0;
    std::uintmax_t mostThreads = 0;
    while (started + refused < kRequests) {
        auto reply = nextCollectionReply(client);
        ASSERT_TRUE(reply) << started << " started, " << refused << " refused\n" << service->log();
        const std::string status = (*reply)["status"];
        if (status == "INITIALIZE") {
            ++started;
        } else if (status == "ERROR") {
            EXPECT_EQ((*reply)["data"]["message"], workflows::busyMessage());
            ++refused;
        }
        mostThreads = std::max(mostThreads, test_support::processStatusField(service->pid(), "Threads"));
    }
    RecordProperty("most_threads", std::to_string(mostThreads));
    RecordProperty("memory_growth_kib",
                   std::to_string(test_support::processStatusField(service->pid(), "VmHWM") - memoryBefore));
    RecordProperty("handshake_us",
                   std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(handshake).count()));
    EXPECT_EQ(started, workflows::kMaxRunningWorkflows);
    EXPECT_EQ(refused, kRequests - workflows::kMaxRunningWorkflows);
    // The workflows, the pool at its bound and a margin for the service's own threads.
    EXPECT_LE(mostThreads, workflows::kMaxRunningWorkflows + common::kMaxGlobalQueueThreads + 32);
    EXPECT_TRUE(answered) << "a second client's handshake was not answered";
}

TEST_F(ResourceBounds, ACloudReplyThatNeverEndsFailsItsRequestWithinBoundedMemory) {
    RawTcpServer endless(
        {{RawExchange::Reading::wholeRequest,
          "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n",
          RawExchange::Ending::endlessBlankChunks}});
    startService();
    auto client = browser();
    const std::uintmax_t memoryBefore = test_support::processStatusField(service->pid(), "VmRSS");
    ASSERT_TRUE(client.sendText(startRequest(endless.port())));

    std::optional<nlohmann::json> reply;
    while ((reply = nextCollectionReply(client)) && (*reply)["status"] != "ERROR") {
    }
    ASSERT_TRUE(reply) << service->log();

    const std::uintmax_t growthKiB = test_support::processStatusField(service->pid(), "VmHWM") - memoryBefore;
    RecordProperty("memory_growth_kib", std::to_string(growthKiB));
    RecordProperty("tries", std::to_string(endless.connections()));
    EXPECT_NE((*reply)["data"]["message"].get<std::string>().find("it was not accepted"), std::string::npos)
        << reply->dump();
    EXPECT_NE(service->log().find("Generic network request data task failed: responseTooLarge"),
              std::string::npos);
    EXPECT_LE(growthKiB, 256U * 1000 * 1000 / 1024);
}

}  // namespace
}  // namespace brisel::test
