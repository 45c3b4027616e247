// Recordings in this process, driven as the browser drives them: a Bluetooth board whose packets a
// connection of their own relays, the fake cloud, every wait at kTimeScale of its length.
#include "workflows/collection/recording.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/dispatch.h"
#include "common/time_scale.h"
#include "support/bluetooth_relay_client.h"
#include "support/collection_cloud.h"
#include "support/fake_cloud.h"
#include "support/websocket_fixture.h"
#include "workflows/workflow_controllers.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using namespace std::chrono_literals;

constexpr double kTimeScale = 0.05;
const std::vector<std::uint32_t> kSensorIds{1, 5};

class RecordingTest : public test_support::WebSocketServerFixture {
  protected:
    void SetUp() override {
        WebSocketServerFixture::SetUp();
        common::setTimeScale(kTimeScale);
    }

    void TearDown() override {
        EXPECT_TRUE(WorkflowThreads::shared().waitUntilIdle(test_support::kReplyWait));
        setSaverStart({});
        common::setTimeScale(1.0);
        WebSocketServerFixture::TearDown();
    }

    void addControllers(frame::ControllerRegistry& registry) override {
        registerWorkflowControllers(registry);
    }

    std::string startRequest(std::int64_t seconds) const {
        return R"({"startDataCollection": true, "command": "start", "project_id": 9, "scheme": "http",
                   "host": "localhost", "port": ")" +
               std::to_string(cloud.port()) +
               R"(", "auth_token": "t", "kind": "TRAINING", "num_instances": )" + std::to_string(seconds) +
               R"(, "label": "walk", "dataset_name": "walk-1", "sensor_config": [],
                   "data_collection_type": "BLUETOOTH"})";
    }

    // The status and message of the collection's replies until the first with `last`.
    static std::vector<std::string> repliesUntil(test_support::WebSocketTestClient& client,
                                                 const std::string& last) {
        std::vector<std::string> seen;
        while (auto received = client.receive(test_support::kReplyWait)) {
            const auto payload = nlohmann::json::parse(received->payload)["data"];
            seen.push_back(payload["status"].get<std::string>() + ": " +
                           payload["data"].value("message", std::string()));
            if (payload["status"] == last) {
                break;
            }
        }
        return seen;
    }

    test::FakeCloud cloud;
};

// Savers slow to start: the last one (a pool slow to start a thread) or both start once the recording
// has ended and waits for them, the first of both then taking the packets of both marks; or the last
// starts only after the recording's end, which took its segment over once the wait for it gave up;
// or a board so slow that the 10 s mark finds too few packets to save and the one saver, at 20 s,
// takes every packet along, so that the end finds nothing left to save. Either way the recording's packets
// all reach the cloud, no save hands an empty file over, and the collection is done.
TEST_F(RecordingTest, SaversSlowToStartStillBringEveryPacketToTheCloud) {
    enum class Start { whenWaitedFor, afterTheEnd };
    struct Row {
        std::size_t firstSlowSaver;  // of the savers at 10 s and 20 s, counted from 1
        Start start;
        std::size_t segments;              // stored, at most
        std::chrono::milliseconds period;  // between two relayed packets
        std::size_t savers;                // that start, at most
    };
    // On a busy machine a mark can find too few packets, or the last pass can come after the end of the
    // recording, which then saves that mark's packets itself: fewer savers and segments, but every
    // packet reaches the cloud all the same.
    const std::string waiting = "BLUETOOTH: Waiting for the last segment to be saved";
    const std::string gaveUp =
        "BLUETOOTH: A segment's saver did not start within a minute; the recording "
        "saves what it holds itself";
    std::int64_t id = 60;
    for (const Row row : {Row{2, Start::whenWaitedFor, 2, 2ms, 2}, Row{1, Start::whenWaitedFor, 1, 2ms, 2},
                          Row{2, Start::afterTheEnd, 2, 2ms, 2}, Row{1, Start::whenWaitedFor, 2, 20ms, 2}}) {
        SCOPED_TRACE(++id);
        test_support::scriptCollectionCloud(cloud, common::DeviceKind::NANO_33_BLE, id);
        std::mutex saversMutex;
        std::condition_variable ended;
        bool collectionEnded = false;          // guarded by saversMutex
        std::vector<std::jthread> slowSavers;  // guarded by saversMutex
        std::size_t started = 0;               // guarded by saversMutex
        const std::size_t waitsBefore = test_support::countLogged(log, waiting);
        const std::size_t gaveUpBefore = test_support::countLogged(log, gaveUp);
        setSaverStart([&](std::function<void()> save) {
            std::lock_guard lock(saversMutex);
            if (++started < row.firstSlowSaver) {
                common::dispatchAsync(common::QualityOfService::defaultPriority, std::move(save));
                return;
            }
            slowSavers.emplace_back([&, save = std::move(save)] {
                EXPECT_TRUE(waitForLogged(waiting, waitsBefore + 1));
                if (row.start == Start::afterTheEnd) {
                    std::unique_lock held(saversMutex);
                    EXPECT_TRUE(
                        ended.wait_for(held, test_support::kReplyWait, [&] { return collectionEnded; }));
                }
                save();
            });
        });
        const std::size_t emptyBefore = log.count("Incoming data is empty");
        auto relay = test_support::relayBluetoothPackets(connect(), kSensorIds, row.period);
        auto client = connect();
        // 20 s: a save at 10 s and one at 20 s, as the recording ends.
        ASSERT_TRUE(client.sendText(startRequest(20)));
        EXPECT_EQ(repliesUntil(client, "DONE").back(), "DONE: Finished data collection");
        relay = {};
        bool slowSaverStarted = false;
        {
            std::lock_guard lock(saversMutex);
            collectionEnded = true;
            slowSaverStarted = !slowSavers.empty();
        }
        ended.notify_all();
        EXPECT_EQ(test_support::countLogged(log, gaveUp),
                  gaveUpBefore + (row.start == Start::afterTheEnd && slowSaverStarted ? 1 : 0));

        const auto stored = test_support::storedSegments(cloud, id);
        ASSERT_LE(stored.size(), row.segments);
        EXPECT_EQ(stored.begin()->first, 0);
        EXPECT_EQ(test_support::expectEveryPacketAtItsIndex(stored, kSensorIds).missing, 0);
        EXPECT_EQ(log.count("Incoming data is empty"), emptyBefore);
        std::vector<std::jthread> finished;
        {
            std::lock_guard lock(saversMutex);
            EXPECT_LE(started, row.savers);
            finished = std::move(slowSavers);
        }
        finished.clear();
        // A saver that came after the end saved nothing more.
        EXPECT_EQ(test_support::storedSegments(cloud, id).size(), stored.size());
    }
}

}  // namespace
}  // namespace brisel::workflows
