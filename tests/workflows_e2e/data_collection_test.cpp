// Data collection end to end: the real service records from a simulated USB board, a simulated WiFi
// board and bytes relayed as from a Bluetooth board, and the fake cloud receives the collection, its
// status reports and the segments. Waits run at kTimeScale of their length, so a recording of 25 s
// lasts 1.25 s, and the boards send a packet every 5 ms (ten per scaled second).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/firmware_personality.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using test_support::WebSocketTestClient;

constexpr double kTimeScale = 0.05;
constexpr std::int64_t kProjectId = 9;
constexpr std::int64_t kCollectionId = 71;
constexpr auto kReplyWait = 60s;
const std::vector<std::uint32_t> kSensorIds{1, 5};
const std::string kDisconnected =
    "Device got disconnected. Please connect the device again and restart the process.";

FirmwarePersonality streamingFirmware(BoardFault fault = BoardFault::none) {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::dataCollection;
    firmware.sensorIds = kSensorIds;
    firmware.period = 5ms;
    firmware.fault = fault;
    return firmware;
}

std::string collectionPath(std::int64_t id) {
    return "/api/collection/" + std::to_string(id);
}

// One progress reply: its status and the text of its "data" object.
struct Progress {
    std::string status;
    std::string data;
};

// The "data" text a progress reply carries; `collectionId` and `message` as the reply should have them.
std::string progressData(std::optional<std::int64_t> collectionId, std::optional<std::string> message = {}) {
    nlohmann::ordered_json data;
    data["collected"] = 0;
    data["uploaded"] = 0;
    if (message) {
        data["message"] = *message;
    }
    data["final"] = false;
    if (collectionId) {
        data["collection_id"] = *collectionId;
    }
    data["project_id"] = kProjectId;
    data["event_range"] = nlohmann::ordered_json::array();
    return data.dump();
}

// The packets a board sends, in order, from sequence `first`.
std::string packetRun(std::uint32_t first, std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) {
        const auto packet = simulatedSamplePacket(kSensorIds, first + static_cast<std::uint32_t>(i));
        bytes.append(packet.begin(), packet.end());
    }
    return bytes;
}

// The browser relaying a Bluetooth board: its own connection sends one packet every 5 ms, numbered
// from 0, until destroyed.
class BluetoothRelay {
  public:
    explicit BluetoothRelay(WebSocketTestClient connection)
        : client(std::move(connection)), thread([this] { run(); }) {}
    ~BluetoothRelay() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        thread.join();
    }
    BluetoothRelay(const BluetoothRelay&) = delete;
    BluetoothRelay& operator=(const BluetoothRelay&) = delete;

  private:
    void run() {
        std::unique_lock lock(mutex);
        for (std::uint32_t sequence = 0; !changed.wait_for(lock, 5ms, [this] { return stopping; });
             ++sequence) {
            const auto packet = simulatedSamplePacket(kSensorIds, sequence);
            nlohmann::json frame{{"saveDataCollectionBluetooth", true}, {"data", packet}};
            client.sendText(frame.dump());
        }
    }

    WebSocketTestClient client;
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;  // guarded by mutex
    std::thread thread;     // last: starts after every member exists
};

class DataCollectionEndToEnd : public WorkflowEndToEnd {
  protected:
    // Scripts a cloud that creates collection `id` and reads a project of `board`; the start of the
    // recording is acknowledged after `acknowledgementDelay`.
    void scriptCloud(common::DeviceKind board, std::int64_t id = kCollectionId,
                     std::chrono::milliseconds acknowledgementDelay = 100ms) {
        cloud->reply("POST", "/api/collection",
                     ScriptedReply::json(
                         200, R"({"label": "walk", "created_at": "2026-01-01", "id": )" + std::to_string(id) +
                                  R"(, "kind": "TRAINING", "name": "walk-1", "num_instances": 25,
                                                  "project_id": 9, "ready": false, "sensors": []})"));
        cloud->reply(
            "GET", "/api/project/9",
            ScriptedReply::json(200, R"({"classes": [], "created_at": "2026-01-01", "device_kind": ")" +
                                         std::string(common::rawValue(board)) +
                                         R"(", "id": 9, "name": "p", "owner_id": 1,
                                                  "project_kind": "CLASSIFICATION", "updated_at": "2026-01-02"})"));
        const std::string status =
            R"({"collection_id": )" + std::to_string(id) + R"(, "started_at": "now", "status": "RUNNING"})";
        ScriptedReply acknowledgement = ScriptedReply::json(200, status);
        acknowledgement.delay = acknowledgementDelay;
        cloud->reply("POST", collectionPath(id) + "/data_collection/start", acknowledgement);
        cloud->reply("PATCH", collectionPath(id) + "/data_collection/status",
                     ScriptedReply::json(200, status));
        cloud->reply("POST", collectionPath(id) + "/json", ScriptedReply::json(200, "{}"));
        cloud->rejectRepeatedQueries("POST", collectionPath(id) + "/json");
    }

    std::string startRequest(const std::string& link, std::int64_t seconds = 25) const {
        return R"({"startDataCollection": true, "command": "start", "project_id": 9, )" + cloudFields() +
               R"(, "kind": "TRAINING", "num_instances": )" + std::to_string(seconds) +
               R"(, "label": "walk", "dataset_name": "walk-1", "sensor_config": [{"enabled": true, "kind": "accel",
               "full_scale_range": 4, "sampling_rate": 100}, {"enabled": false, "kind": "gyro", "sampling_rate": 50}],
               "data_collection_type": ")" +
               link + R"("})";
    }

    // Points the service's REST base address at the fake cloud: a collection start whose creation
    // fails at once (a reply that is no collection), answered with ERROR.
    void pointServiceAtCloud(WebSocketTestClient& client) {
        cloud->reply("POST", "/api/collection", ScriptedReply::json(200, "{}"));
        ASSERT_TRUE(client.sendText(startRequest("USB")));
        ASSERT_TRUE(receiveProgressUntil(client, "ERROR").size() == 3);
    }

    // The progress replies up to and including the first of status `last` (or every one that came
    // within the reply wait).
    static std::vector<Progress> receiveProgressUntil(WebSocketTestClient& client, const std::string& last) {
        std::vector<Progress> seen;
        const auto deadline = std::chrono::steady_clock::now() + kReplyWait;
        while (std::chrono::steady_clock::now() < deadline) {
            auto message = client.receive(std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()));
            if (!message) {
                break;
            }
            const auto reply = nlohmann::ordered_json::parse(message->payload, nullptr, false);
            if (!reply.is_object() || !reply.contains("data") ||
                reply["data"].value("command", "") != "datacollection") {
                continue;
            }
            seen.push_back({reply["data"]["status"].get<std::string>(), reply["data"]["data"].dump()});
            if (seen.back().status == last) {
                break;
            }
        }
        return seen;
    }

    std::vector<RecordedRequest> uploads(std::int64_t id = kCollectionId) const {
        std::vector<RecordedRequest> found;
        for (auto& request : cloud->requests()) {
            if (request.method == "POST" && request.path == collectionPath(id) + "/json") {
                found.push_back(std::move(request));
            }
        }
        return found;
    }

    // The uploads the cloud stored (a 2xx reply), by first packet index; fails the test when an index
    // was stored twice.
    std::map<std::int64_t, std::string> storedSegments(std::int64_t id = kCollectionId) const {
        std::map<std::int64_t, std::string> stored;
        for (const auto& upload : uploads(id)) {
            if (upload.replyStatus < 200 || upload.replyStatus > 299) {
                continue;
            }
            const std::int64_t index = std::stoll(upload.query.substr(upload.query.find('=') + 1));
            EXPECT_EQ(upload.query, "first_packet_index=" + std::to_string(index));
            EXPECT_TRUE(stored.emplace(index, upload.body).second) << "segment " << index << " stored twice";
        }
        return stored;
    }

    // Waits until `condition` holds for the cloud's requests, or the reply wait passes.
    bool waitForCloud(const std::function<bool()>& condition) const {
        const auto deadline = std::chrono::steady_clock::now() + kReplyWait;
        for (std::size_t seen = cloud->requests().size();; ++seen) {
            if (condition()) {
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= 0ms || !cloud->waitForRequests(seen + 1, left)) {
                return condition();
            }
        }
    }

    bool waitForStoredSegments(std::size_t count, std::int64_t id = kCollectionId) const {
        return waitForCloud([&] { return storedSegments(id).size() >= count; });
    }

    bool waitForRecordingStart(std::int64_t id) const {
        return waitForCloud([&] {
            const auto requests = cloud->requests();
            return std::any_of(requests.begin(), requests.end(), [&](const RecordedRequest& request) {
                return request.path == collectionPath(id) + "/data_collection/start";
            });
        });
    }

    // Checks that the stored segments, in index order, are one unbroken run of the board's packets
    // whose indices count the packets before them. Returns the sequence of the first packet.
    static std::optional<std::uint32_t> expectOneRunOfPackets(
        const std::map<std::int64_t, std::string>& stored) {
        const std::size_t packetSize = simulatedSamplePacket(kSensorIds, 0).size();
        std::string joined;
        for (const auto& [index, bytes] : stored) {
            EXPECT_EQ(static_cast<std::size_t>(index) * packetSize, joined.size()) << "segment " << index;
            EXPECT_FALSE(bytes.empty());
            joined += bytes;
        }
        if (joined.empty() || joined.size() % packetSize != 0) {
            ADD_FAILURE() << "the segments hold " << joined.size() << " bytes, not whole packets";
            return std::nullopt;
        }
        for (std::uint32_t first = 0; first < 100000; ++first) {
            if (packetRun(first, 1) == joined.substr(0, packetSize)) {
                EXPECT_EQ(packetRun(first, joined.size() / packetSize), joined) << "packets lost or repeated";
                return first;
            }
        }
        ADD_FAILURE() << "the first stored packet is none the board sent";
        return std::nullopt;
    }

    std::filesystem::path collectionFolder(std::int64_t id) const {
        return service->temporaryFolder() / ("velko-" + std::to_string(getuid())) /
               "velko_brisel_collection" / std::to_string(id);
    }

    std::vector<std::string> requestLines() const {
        std::vector<std::string> lines;
        for (const auto& request : cloud->requests()) {
            lines.push_back(request.method + " " + request.path +
                            (request.query.empty() ? "" : "?" + request.query));
        }
        return lines;
    }
};

// ---- the whole road, once per link

class RecordingOverLink : public DataCollectionEndToEnd, public ::testing::WithParamInterface<std::string> {};

TEST_P(RecordingOverLink, RecordsTwentyFiveSecondsIntoThreeSegmentsAndReportsDoneAfterTheLastUpload) {
    const std::string link = GetParam();
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    if (link == "WIFI") {
        // Three failed tries of the first upload: the segment is still stored once.
        cloud->replies("POST", collectionPath(kCollectionId) + "/json",
                       {ScriptedReply::text(500, "busy"), ScriptedReply::text(500, "busy"),
                        ScriptedReply::text(500, "busy"), ScriptedReply::json(200, "{}")});
    }
    startService(kTimeScale);
    if (link == "USB") {
        simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application,
                              streamingFirmware());
    } else if (link == "WIFI") {
        auto& board = simulator->addWifiBoard(6012, streamingFirmware());
        ASSERT_TRUE(board.waitUntil([](const WifiBoardSnapshot& state) { return state.connected; }, 30s));
    }
    auto client = browser();
    std::optional<BluetoothRelay> relay;
    if (link == "BLUETOOTH") {
        relay.emplace(browser());
    }
    ASSERT_TRUE(client.sendText(startRequest(link)));

    std::vector<Progress> replies = receiveProgressUntil(client, "finish reset");
    if (link == "USB") {
        // A sync of the collection while it records leaves the recording's files alone.
        ASSERT_TRUE(waitForStoredSegments(1));
        auto other = browser();
        ASSERT_TRUE(other.sendText(R"({"collectionSyncRequest": true, "collection_id": 71, "project_id": 9,
            "host": "localhost", "auth_token": "token-1", "port": "1", "deviceKind": "NANO_33_BLE"})"));
        const auto sync = test_support::receiveContaining(other, "collection_sync", kReplyWait);
        ASSERT_TRUE(sync);
        EXPECT_NE(sync->find("No local data collection files to upload for collection 71"),
                  std::string::npos);
    }
    for (auto& reply : receiveProgressUntil(client, "DONE")) {
        replies.push_back(std::move(reply));
    }
    relay.reset();

    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> expected{
        {"INITIALIZE", std::nullopt},     {"AUTHENTICATE", std::nullopt},    {"OPENING", kCollectionId},
        {"ACTIVE", kCollectionId},        {"start reset", kCollectionId},    {"finish reset", kCollectionId},
        {"start waiting", kCollectionId}, {"finish waiting", kCollectionId}, {"DONE", kCollectionId}};
    ASSERT_EQ(replies.size(), expected.size()) << service->log();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(replies[i].status, expected[i].first);
        const auto message = expected[i].first == "DONE"
                                 ? std::optional<std::string>("Finished data collection")
                                 : std::nullopt;
        EXPECT_EQ(replies[i].data, progressData(expected[i].second, message)) << expected[i].first;
    }

    // The DONE report leaves without waiting for its reply, before the DONE reply.
    ASSERT_TRUE(waitForCloud([&] {
        const auto seen = cloud->requests();
        return std::count_if(seen.begin(), seen.end(),
                             [](const auto& request) { return request.method == "PATCH"; }) >= 2;
    }));
    const auto requests = cloud->requests();
    ASSERT_GE(requests.size(), 4U);
    EXPECT_EQ(requests[0].method + " " + requests[0].path, "POST /api/collection");
    EXPECT_EQ(
        requests[0].body,
        std::string(R"({"bluetooth_recording":)") + (link == "BLUETOOTH" ? "true" : "false") +
            R"(,"kind":"TRAINING","num_instances":25,"project_id":9,"sensors":[{"enabled":true,"kind":"accel",)"
            R"("sampling_rate":100.0,"full_scale_range":4.0},{"enabled":false,"kind":"gyro","sampling_rate":50.0}],)"
            R"("label":"walk","name":"walk-1"})");
    EXPECT_EQ(requests[1].method + " " + requests[1].path, "GET /api/project/9");
    EXPECT_EQ(requests[2].method + " " + requests[2].path, "POST /api/collection/71/data_collection/start");

    const auto stored = storedSegments();
    ASSERT_EQ(stored.size(), 3U) << testing::PrintToString(requestLines());
    const auto first = expectOneRunOfPackets(stored);
    // The packets before the acknowledgement went with the first file.
    EXPECT_GT(first.value_or(0), 0U);
    for (const auto& upload : uploads()) {
        EXPECT_EQ(upload.body, stored.at(std::stoll(upload.query.substr(upload.query.find('=') + 1))))
            << "a repeated try sent other bytes";
    }

    // UPLOAD when the recording ended, DONE after the last upload; nothing else changes the status.
    std::vector<std::size_t> statusReports;
    std::size_t lastUpload = 0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (requests[i].method == "PATCH") {
            statusReports.push_back(i);
        } else if (requests[i].path == collectionPath(kCollectionId) + "/json") {
            lastUpload = i;
        }
    }
    ASSERT_EQ(statusReports.size(), 2U);
    EXPECT_EQ(requests[statusReports[0]].body,
              R"({"error_code":200,"error_description":"","status":"UPLOAD"})");
    EXPECT_EQ(requests[statusReports[1]].body,
              R"({"error_code":200,"error_description":"","status":"DONE"})");
    EXPECT_GT(statusReports[1], lastUpload);
}

INSTANTIATE_TEST_SUITE_P(Links, RecordingOverLink, ::testing::Values("USB", "WIFI", "BLUETOOTH"),
                         [](const auto& row) { return row.param; });

// ---- failures

TEST_F(DataCollectionEndToEnd, CloudFailuresEndTheCollectionWithTheCloudsMessage) {
    startService(kTimeScale);
    auto client = browser();

    cloud->reply("POST", "/api/collection",
                 ScriptedReply::json(403, R"({"status_code": 403, "message": "Quota reached"})"));
    ASSERT_TRUE(client.sendText(startRequest("USB")));
    auto replies = receiveProgressUntil(client, "ERROR");
    ASSERT_EQ(replies.size(), 3U);
    EXPECT_EQ(replies[2].data, progressData(std::nullopt, "Quota reached"));

    scriptCloud(common::DeviceKind::NANO_33_BLE);
    cloud->reply("GET", "/api/project/9",
                 ScriptedReply::json(404, R"({"status_code": 404, "message": "No project"})"));
    ASSERT_TRUE(client.sendText(startRequest("USB")));
    replies = receiveProgressUntil(client, "ERROR");
    ASSERT_EQ(replies.size(), 3U);
    EXPECT_EQ(replies[2].data, progressData(kCollectionId, "No project"));
    EXPECT_TRUE(uploads().empty());
}

TEST_F(DataCollectionEndToEnd, NoBoardGivesInitDisconnectThenDone) {
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    startService(kTimeScale);
    auto client = browser();
    ASSERT_TRUE(client.sendText(startRequest("USB")));
    const auto replies = receiveProgressUntil(client, "DONE");
    ASSERT_EQ(replies.size(), 5U);
    EXPECT_EQ(replies[2].status, "OPENING");
    EXPECT_EQ(replies[3].status, "INIT_DISCONNECT");
    EXPECT_EQ(replies[3].data, progressData(kCollectionId, kDisconnected));
    EXPECT_EQ(replies[4].data, progressData(kCollectionId, kDisconnected));
}

// The recorded part of a collection that loses its board or its browser reaches the cloud, and the
// acknowledgement of the start that arrives afterwards changes nothing.
TEST_F(DataCollectionEndToEnd, UnplugAndBrowserCloseMidRecordingKeepWhatWasRecorded) {
    scriptCloud(common::DeviceKind::NANO_33_BLE, kCollectionId, 1s);
    startService(kTimeScale);
    const BoardId board = simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application,
                                                streamingFirmware());
    {
        auto client = browser();
        ASSERT_TRUE(client.sendText(startRequest("USB", 100)));
        ASSERT_TRUE(waitForRecordingStart(kCollectionId));
        simulator->usb().unplug(board);
        const auto replies = receiveProgressUntil(client, "DISCONNECT");
        ASSERT_FALSE(replies.empty());
        EXPECT_EQ(replies.back().status, "DISCONNECT");
        EXPECT_EQ(replies.back().data, progressData(kCollectionId, kDisconnected));
        ASSERT_TRUE(waitForStoredSegments(1)) << service->log();
        expectOneRunOfPackets(storedSegments());
    }
    for (const auto& request : cloud->requests()) {
        EXPECT_NE(request.method, "PATCH") << "a disconnected recording reports no status";
    }

    constexpr std::int64_t kSecond = 72;
    scriptCloud(common::DeviceKind::NANO_33_BLE, kSecond, 1s);
    simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application, streamingFirmware());
    auto client = browser();
    ASSERT_TRUE(client.sendText(startRequest("USB", 100)));
    ASSERT_TRUE(waitForRecordingStart(kSecond));
    client.close();
    ASSERT_TRUE(waitForStoredSegments(1, kSecond)) << service->log();
    expectOneRunOfPackets(storedSegments(kSecond));
}

TEST_F(DataCollectionEndToEnd, SilentFlamencoBoardIsReportedNotRespondingThenDisconnected) {
    scriptCloud(common::DeviceKind::HALDEN_FLAMENCO);
    startService(kTimeScale);
    simulator->usb().plug(common::DeviceKind::HALDEN_FLAMENCO, UsbBoardMode::application,
                          streamingFirmware(BoardFault::silence));
    auto client = browser();
    // Long enough for the board's silence (2 s, not scaled) to show.
    ASSERT_TRUE(client.sendText(startRequest("USB", 200)));
    const auto replies = receiveProgressUntil(client, "DISCONNECT");
    ASSERT_GE(replies.size(), 3U);
    EXPECT_EQ(replies[replies.size() - 3].status, "finish reset");
    EXPECT_EQ(replies[replies.size() - 2].status, "ERROR");
    EXPECT_EQ(replies[replies.size() - 2].data,
              progressData(kCollectionId, "Device not responding. Please reset the device."));
    EXPECT_EQ(replies.back().status, "DISCONNECT");
}

// ---- collection sync

class CollectionSyncEndToEnd : public DataCollectionEndToEnd {
  protected:
    std::string syncRequest(std::int64_t id) const {
        return R"({"collectionSyncRequest": true, "collection_id": )" + std::to_string(id) +
               R"(, "project_id": 9, "host": "localhost", "auth_token": "token-1", "port": "1",
               "deviceKind": "NANO_33_BLE"})";
    }

    // The "status: message" of each collection_sync reply up to and including the first that is not
    // MESSAGE.
    static std::vector<std::string> syncReplies(WebSocketTestClient& client) {
        std::vector<std::string> seen;
        while (auto text = test_support::receiveContaining(client, "collection_sync", kReplyWait)) {
            const auto reply = nlohmann::json::parse(*text);
            seen.push_back(reply["data"]["status"].get<std::string>() + ": " +
                           reply["data"]["data"]["message"].get<std::string>());
            if (reply["data"]["status"] != "MESSAGE") {
                break;
            }
        }
        return seen;
    }

    void writeFile(const std::filesystem::path& path, const std::string& bytes) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    std::size_t statusReports(std::int64_t id, const std::string& status) const {
        const auto requests = cloud->requests();
        return static_cast<std::size_t>(
            std::count_if(requests.begin(), requests.end(), [&](const RecordedRequest& request) {
                return request.method == "PATCH" &&
                       request.path == collectionPath(id) + "/data_collection/status" &&
                       request.body.find("\"" + status + "\"") != std::string::npos;
            }));
    }
};

TEST_F(CollectionSyncEndToEnd, UploadsSampleFilesDeletesTheRestAndReportsTheOutcome) {
    startService(kTimeScale);
    auto client = browser();
    pointServiceAtCloud(client);
    const std::string status = R"({"collection_id": 0, "started_at": "now", "status": "DONE"})";

    // Sample files upload (a 418 counts as uploaded); every other entry is deleted.
    const std::int64_t mixed = 80;
    for (const auto* name :
         {"sensors_12.bin", "sensors_-3.bin", "sensors_.bin", "sensors_x.bin",
          "sensors_temp_1700000000.5.bin", "notes.txt", "sensors_123456789012345678901234567890.bin"}) {
        writeFile(collectionFolder(mixed) / name, std::string("bytes of ") + name);
    }
    cloud->replies("POST", collectionPath(mixed) + "/json",
                   {ScriptedReply::json(200, "{}"), ScriptedReply::text(418, "")});
    cloud->reply("PATCH", collectionPath(mixed) + "/data_collection/status",
                 ScriptedReply::json(200, status));
    ASSERT_TRUE(client.sendText(syncRequest(mixed)));
    EXPECT_EQ(syncReplies(client),
              (std::vector<std::string>{"MESSAGE: Syncing collection 80",
                                        "SUCCESS: Uploaded data collection files to collection 80"}));
    std::vector<std::string> queries;
    for (const auto& upload : uploads(mixed)) {
        queries.push_back(upload.query);
    }
    std::sort(queries.begin(), queries.end());
    EXPECT_EQ(queries, (std::vector<std::string>{"first_packet_index=-3", "first_packet_index=12"}));
    EXPECT_FALSE(std::filesystem::exists(collectionFolder(mixed)));
    // The DONE report leaves without waiting for its reply, before the SUCCESS reply.
    EXPECT_TRUE(waitForCloud([&] { return statusReports(mixed, "DONE") == 1; }));
    EXPECT_EQ(statusReports(mixed, "UPLOAD"), 1U);

    // An empty folder is deleted; a missing one makes no call.
    std::filesystem::create_directories(collectionFolder(81));
    ASSERT_TRUE(client.sendText(syncRequest(81)));
    EXPECT_EQ(syncReplies(client),
              std::vector<std::string>{"ERROR: No local data collection files to upload for collection 81"});
    EXPECT_FALSE(std::filesystem::exists(collectionFolder(81)));
    const std::size_t calls = cloud->requests().size();
    ASSERT_TRUE(client.sendText(syncRequest(82)));
    EXPECT_EQ(syncReplies(client),
              std::vector<std::string>{"ERROR: No local data collection files to upload for collection 82"});
    EXPECT_EQ(cloud->requests().size(), calls);
}

TEST_F(CollectionSyncEndToEnd, AFileThatNeverUploadsGivesAnIncompleteSyncWhileOtherRequestsAreServed) {
    startService(kTimeScale);
    auto client = browser();
    pointServiceAtCloud(client);
    const std::int64_t id = 83;
    writeFile(collectionFolder(id) / "sensors_0.bin", packetRun(0, 3));
    cloud->reply("POST", collectionPath(id) + "/json", ScriptedReply::text(500, "down"));
    ASSERT_TRUE(client.sendText(syncRequest(id)));
    const auto syncing = test_support::receiveContaining(client, "collection_sync", kReplyWait);
    ASSERT_TRUE(syncing);
    EXPECT_NE(syncing->find("Syncing collection 83"), std::string::npos);
    // The sync waits for the upload's tries; the handshake is answered meanwhile.
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 0})"));
    ASSERT_TRUE(
        client.receive(kReplyWait).value_or(test_support::ReceivedMessage{}).payload.find("handshake") !=
        std::string::npos);
    EXPECT_EQ(
        syncReplies(client),
        std::vector<std::string>{"ERROR: Incomplete upload of data collection files for collection 83"});
    EXPECT_EQ(statusReports(id, "DONE"), 0U);
    EXPECT_TRUE(std::filesystem::exists(collectionFolder(id) / "sensors_0.bin"));
}

// A service killed while it records loses no saved segment: the next service's sync uploads what
// was left, and the cloud stores every packet once.
TEST_F(CollectionSyncEndToEnd, SegmentsOfAKilledRecordingAreStoredOnceAfterTheSync) {
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    // Uploads take a while, so that one is in flight when the service dies.
    ScriptedReply slowUpload = ScriptedReply::json(200, "{}");
    slowUpload.delay = 300ms;
    cloud->reply("POST", collectionPath(kCollectionId) + "/json", slowUpload);
    startService(kTimeScale);
    simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application, streamingFirmware());
    {
        auto client = browser();
        ASSERT_TRUE(client.sendText(startRequest("USB", 100)));
        ASSERT_TRUE(waitForStoredSegments(2));
    }
    service->kill();
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(collectionFolder(kCollectionId))) {
        left.push_back(entry.path().filename().string());
    }

    startService(kTimeScale);
    auto client = browser();
    pointServiceAtCloud(client);
    ASSERT_TRUE(client.sendText(syncRequest(kCollectionId)));
    const auto replies = syncReplies(client);
    ASSERT_FALSE(replies.empty()) << testing::PrintToString(left);
    EXPECT_EQ(replies.back(), "SUCCESS: Uploaded data collection files to collection 71")
        << testing::PrintToString(left);
    const auto stored = storedSegments();
    EXPECT_GE(stored.size(), 2U);
    expectOneRunOfPackets(stored);
    for (const auto& name : left) {
        if (name.find("temp") == std::string::npos) {
            EXPECT_TRUE(stored.contains(std::stoll(name.substr(8)))) << name << " was not stored";
        }
    }
}

}  // namespace
}  // namespace brisel::test
