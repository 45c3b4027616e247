// Data collection and collection sync end to end: the real service records from a simulated USB
// board, a simulated WiFi board and bytes relayed as from a Bluetooth board, and the fake cloud
// receives the collection, its status reports and the segments. Waits run at kTimeScale of their
// length (a recording of 25 s lasts 1.25 s, 2.5 s in the runs that count segments); the boards send a
// packet every 5 ms.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/file_descriptor.h"
#include "support/bluetooth_relay_client.h"
#include "support/collection_cloud.h"
#include "support/eventually.h"
#include "support/firmware_personality.h"
#include "support/raw_tcp_server.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;
using test_support::WebSocketTestClient;

constexpr double kTimeScale = 0.05;
constexpr std::int64_t kId = 71;
constexpr auto kWait = 60s;
const std::vector<std::uint32_t> kSensorIds{1, 5};
const std::string kDisconnected =
    "Device got disconnected. Please connect the device again and restart the process.";
// How a 25-second recording whose three segments all failed to upload ends.
const std::string kThreeSegmentsKept =
    "Data collection ended with errors: 3 segments could not be uploaded. Segments that are not uploaded "
    "are kept on this computer: run a collection sync of this collection to upload them.";

FirmwarePersonality streamingFirmware(BoardFault fault = BoardFault::none) {
    FirmwarePersonality firmware;
    firmware.sensorIds = kSensorIds;
    firmware.period = 5ms;
    firmware.fault = fault;
    return firmware;
}

std::string collectionPath(std::int64_t id) {
    return "/api/collection/" + std::to_string(id);
}

// The "data" of a progress reply of project 9.
std::string progressData(std::optional<std::int64_t> id, std::optional<std::string> message = {}) {
    return R"({"collected":0,"uploaded":0,)" + (message ? R"("message":")" + *message + "\"," : "") +
           R"("final":false,)" + (id ? R"("collection_id":)" + std::to_string(*id) + "," : "") +
           R"("project_id":9,"event_range":[]})";
}

std::string packetRun(std::uint32_t first, std::size_t count) {
    return simulatedPacketRun(kSensorIds, first, count);
}

class DataCollectionEndToEnd : public WorkflowEndToEnd {
  protected:
    // A cloud that creates collection `id` in project 9 of `board`, acknowledges the start after
    // `acknowledgement` and answers a repeated segment with 418.
    void scriptCloud(common::DeviceKind board, std::int64_t id = kId,
                     std::chrono::milliseconds acknowledgement = 100ms) {
        test_support::scriptCollectionCloud(*cloud, board, id, acknowledgement);
    }

    std::string startRequest(const std::string& link, std::int64_t seconds = 25) const {
        return R"({"startDataCollection": true, "command": "start", "project_id": 9, )" + cloudFields() +
               R"(, "kind": "TRAINING", "num_instances": )" + std::to_string(seconds) +
               R"(, "label": "walk", "dataset_name": "walk-1", "sensor_config": [{"enabled": true, "kind": "accel",
               "full_scale_range": 4, "sampling_rate": 100}, {"enabled": false, "kind": "gyro", "sampling_rate": 50}],
               "data_collection_type": ")" +
               link + R"("})";
    }

    static std::string syncRequest(std::int64_t id) {
        return R"({"collectionSyncRequest": true, "collection_id": )" + std::to_string(id) +
               R"(, "project_id": 9, "host": "localhost", "auth_token": "t", "port": "1", "deviceKind": "NANO_33_BLE"})";
    }

    // The payloads of `command` replies, as "status" or "status: message", up to and including the
    // first whose status is `last`.
    static std::vector<std::string> repliesUntil(WebSocketTestClient& client, const std::string& command,
                                                 const std::string& last) {
        std::vector<std::string> seen;
        while (auto text = test_support::receiveContaining(client, "\"" + command + "\"", kWait)) {
            const auto payload = nlohmann::ordered_json::parse(*text)["data"];
            const auto data = payload["data"];
            const std::string status = payload["status"];
            seen.push_back(command == "datacollection" ? status + " " + data.dump()
                                                       : status + ": " + data["message"].get<std::string>());
            if (status == last) {
                break;
            }
        }
        return seen;
    }

    // Points the service's REST base address at the fake cloud: a start whose collection reply does not
    // decode ends at once with ERROR.
    void pointServiceAtCloud(WebSocketTestClient& client) {
        cloud->reply("POST", "/api/collection", ScriptedReply::json(200, "{}"));
        ASSERT_TRUE(client.sendText(startRequest("USB")));
        ASSERT_EQ(repliesUntil(client, "datacollection", "ERROR").size(), 3U);
    }

    // The segments the cloud stored (2xx), by first packet index; an index stored twice fails the test.
    std::map<std::int64_t, std::string> storedSegments(std::int64_t id = kId) const {
        return test_support::storedSegments(*cloud, id);
    }

    std::size_t count(const std::function<bool(const RecordedRequest&)>& which) const {
        const auto requests = cloud->requests();
        return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), which));
    }

    // Waits until `condition` holds, rechecking at each request the cloud receives.
    bool waitForCloud(const std::function<bool()>& condition) const {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        for (std::size_t seen = cloud->requests().size(); !condition(); ++seen) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= 0ms || !cloud->waitForRequests(seen + 1, left)) {
                return condition();
            }
        }
        return true;
    }

    bool waitForStatusReports(std::int64_t id, const std::string& status, std::size_t reports = 1) const {
        return waitForCloud([&] {
            return count([&](const RecordedRequest& request) {
                       return request.method == "PATCH" &&
                              request.path == collectionPath(id) + "/data_collection/status" &&
                              request.body.find("\"" + status + "\"") != std::string::npos;
                   }) == reports;
        });
    }

    bool waitForRecordingStart(std::int64_t id) const {
        return waitForCloud([&] {
            return count([&](const auto& request) {
                       return request.path == collectionPath(id) + "/data_collection/start";
                   }) > 0;
        });
    }

    // Checks that the stored segments, in index order, are one unbroken run of the board's packets
    // whose indices count the packets before them. Returns the sequence number of the first packet.
    static std::uint32_t expectOneRunOfPackets(const std::map<std::int64_t, std::string>& stored) {
        const auto packets = test_support::expectEveryPacketAtItsIndex(stored, kSensorIds);
        EXPECT_TRUE(!stored.empty() && stored.begin()->first == 0) << "no segment at index 0";
        EXPECT_EQ(packets.missing, 0) << "packets lost";
        return packets.first;
    }

    // Waits until the recording file of collection `id` holds `packets` packets, woken by the folder's
    // file events; the folder exists once the recording has begun.
    bool waitForRecordedPackets(std::int64_t id, std::uintmax_t packets) const {
        const int events = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        const int watch = inotify_add_watch(events, collectionFolder(id).c_str(), IN_MODIFY | IN_CREATE);
        const auto recorded = [&] {
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(collectionFolder(id), error)) {
                if (entry.path().filename().string().find("temp") != std::string::npos &&
                    entry.file_size(error) >= packets * simulatedSamplePacket(kSensorIds, 0).size()) {
                    return true;
                }
            }
            return false;
        };
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        bool reached = recorded();
        while (watch >= 0 && !reached && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{events, POLLIN, 0};
            ::poll(&ready, 1, 1000);
            char buffer[4096];
            while (::read(events, buffer, sizeof buffer) > 0) {
            }
            reached = recorded();
        }
        ::close(events);
        return reached;
    }

    // The packets in the files of collection `id`'s folder, counted from the first of the recording:
    // the highest index of a file's first packet plus the packets in it. A file's index is the number
    // between the last "_" of its name and ".bin" (segments and temporary files both end so).
    std::int64_t packetsOnDisk(std::int64_t id) const {
        const auto size = static_cast<std::int64_t>(simulatedSamplePacket(kSensorIds, 0).size());
        std::int64_t reach = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(collectionFolder(id), error)) {
            const std::string name = entry.path().filename().string();
            const std::size_t from = name.rfind('_') + 1;
            const std::int64_t first = std::stoll(name.substr(from, name.size() - from - 4));
            // A file that a save renamed or an upload removed meanwhile counts under its next name.
            const std::uintmax_t bytes = entry.file_size(error);
            if (!error) {
                reach = std::max(reach, first + static_cast<std::int64_t>(bytes) / size);
            }
        }
        return reach;
    }

    std::filesystem::path collectionFolder(std::int64_t id) const {
        return service->temporaryFolder() / ("velko-" + std::to_string(getuid())) /
               "velko_brisel_collection" / std::to_string(id);
    }
};

class RecordingOverLink : public DataCollectionEndToEnd, public ::testing::WithParamInterface<std::string> {};

// The cloud acknowledges the start 12 recorded seconds after it was sent, past the first segment's mark:
// nothing recorded before the acknowledgement reaches the cloud, and the recording lasts its 25 seconds
// from there.
TEST_P(RecordingOverLink, RecordsTwentyFiveSecondsFromTheAcknowledgementIntoThreeSegmentsAndReportsDone) {
    const std::string link = GetParam();
    constexpr double timeScale = 2 * kTimeScale;
    scriptCloud(common::DeviceKind::NANO_33_BLE, kId,
                std::chrono::milliseconds(static_cast<std::int64_t>(12'000 * timeScale)));
    if (link == "WIFI") {
        // Three failed tries of the first upload: the segment is still stored once.
        cloud->replies("POST", collectionPath(kId) + "/json",
                       {ScriptedReply::text(500, "busy"), ScriptedReply::text(500, "busy"),
                        ScriptedReply::text(500, "busy"), ScriptedReply::json(200, "{}")});
    }
    // Ten recorded seconds (1 s) hold the 40 packets of a segment even from a board slowed by a busy machine.
    startService(timeScale);
    std::jthread relay;
    if (link == "USB") {
        simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application,
                              streamingFirmware());
    } else if (link == "WIFI") {
        auto& board = simulator->addWifiBoard(6012, streamingFirmware());
        ASSERT_TRUE(board.waitUntil([](const WifiBoardSnapshot& state) { return state.connected; }, kWait));
    } else {
        relay = test_support::relayBluetoothPackets(browser(), kSensorIds, 5ms);
    }
    auto client = browser();
    ASSERT_TRUE(client.sendText(startRequest(link)));
    if (link == "USB") {
        // A sync of the collection while it records leaves the recording's files alone.
        ASSERT_TRUE(waitForCloud([&] { return storedSegments().size() == 1; }));
        auto other = browser();
        ASSERT_TRUE(other.sendText(syncRequest(kId)));
        EXPECT_EQ(
            repliesUntil(other, "collection_sync", "ERROR"),
            std::vector<std::string>{"ERROR: No local data collection files to upload for collection 71"});
    }
    const auto replies = repliesUntil(client, "datacollection", "DONE");
    relay = {};

    std::vector<std::string> expected{"INITIALIZE " + progressData({}), "AUTHENTICATE " + progressData({})};
    for (const auto* status :
         {"OPENING", "ACTIVE", "start reset", "finish reset", "start waiting", "finish waiting"}) {
        expected.push_back(status + (" " + progressData(kId)));
    }
    expected.push_back("DONE " + progressData(kId, "Finished data collection"));
    EXPECT_EQ(replies, expected);

    // The DONE report leaves without waiting for its reply, before the DONE reply.
    ASSERT_TRUE(waitForStatusReports(kId, "DONE"));
    const auto requests = cloud->requests();
    EXPECT_EQ(requests.at(0).path, "/api/collection");
    EXPECT_EQ(
        requests[0].body,
        std::string(R"({"bluetooth_recording":)") + (link == "BLUETOOTH" ? "true" : "false") +
            R"(,"kind":"TRAINING","num_instances":25,"project_id":9,"sensors":[{"enabled":true,"kind":"accel",)"
            R"("sampling_rate":100.0,"full_scale_range":4.0},{"enabled":false,"kind":"gyro","sampling_rate":50.0}],)"
            R"("label":"walk","name":"walk-1"})");
    EXPECT_EQ(requests.at(1).path, "/api/project/9");
    EXPECT_EQ(requests.at(2).path, "/api/collection/71/data_collection/start");

    const auto stored = storedSegments();
    EXPECT_EQ(stored.size(), 3U) << service->log();
    // The packets before the acknowledgement went with the first file: a segment of them would stand
    // apart from the rest, and the run would break.
    EXPECT_GT(expectOneRunOfPackets(stored), 0U);
    std::vector<std::string> order;
    for (const auto& request : requests) {
        if (request.method == "PATCH") {
            order.push_back(request.body);
        } else if (request.path == collectionPath(kId) + "/json") {
            EXPECT_EQ(request.body, stored.at(std::stoll(request.query.substr(19))))
                << "a try sent other bytes";
            order.push_back("upload");
        }
    }
    // UPLOAD when the recording ended, DONE after the last upload.
    ASSERT_GE(order.size(), 2U);
    EXPECT_EQ(std::count(order.begin(), order.end(),
                         R"({"error_code":200,"error_description":"","status":"UPLOAD"})"),
              1);
    EXPECT_EQ(order.back(), R"({"error_code":200,"error_description":"","status":"DONE"})");
}

INSTANTIATE_TEST_SUITE_P(Links, RecordingOverLink, ::testing::Values("USB", "WIFI", "BLUETOOTH"),
                         [](const auto& row) { return row.param; });

TEST_F(DataCollectionEndToEnd, FailedCloudCallsAndAMissingBoardEndTheCollection) {
    startService(kTimeScale);
    auto client = browser();
    cloud->reply("POST", "/api/collection",
                 ScriptedReply::json(403, R"({"status_code": 403, "message": "Quota"})"));
    ASSERT_TRUE(client.sendText(startRequest("USB")));
    EXPECT_EQ(repliesUntil(client, "datacollection", "ERROR").back(), "ERROR " + progressData({}, "Quota"));

    scriptCloud(common::DeviceKind::NANO_33_BLE);
    cloud->reply("GET", "/api/project/9",
                 ScriptedReply::json(404, R"({"status_code": 404, "message": "No project"})"));
    ASSERT_TRUE(client.sendText(startRequest("USB")));
    const auto replies = repliesUntil(client, "datacollection", "ERROR");
    EXPECT_EQ(replies.size(), 3U);
    EXPECT_EQ(replies.back(), "ERROR " + progressData(kId, "No project"));

    scriptCloud(common::DeviceKind::NANO_33_BLE);
    ASSERT_TRUE(client.sendText(startRequest("USB")));
    EXPECT_EQ(repliesUntil(client, "datacollection", "DONE"),
              (std::vector<std::string>{"INITIALIZE " + progressData({}), "AUTHENTICATE " + progressData({}),
                                        "OPENING " + progressData(kId),
                                        "INIT_DISCONNECT " + progressData(kId, kDisconnected),
                                        "DONE " + progressData(kId, kDisconnected)}));
    EXPECT_EQ(count([](const auto& request) { return request.path.ends_with("/json"); }), 0U);
}

// Lengths of 0 s and of the largest count end without a fault: the first at once, the second when the
// relayed Bluetooth bytes stop (the reader sees a silent link after 2 s).
TEST_F(DataCollectionEndToEnd, ZeroAndLargestRecordingLengthsEndSoundly) {
    startService(kTimeScale);
    auto client = browser();
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    ASSERT_TRUE(client.sendText(startRequest("BLUETOOTH", 0)));
    EXPECT_EQ(repliesUntil(client, "datacollection", "DONE").back(),
              "DONE " + progressData(kId, "Finished data collection"));
    scriptCloud(common::DeviceKind::NANO_33_BLE, 74);
    ASSERT_TRUE(client.sendText(startRequest("BLUETOOTH", std::numeric_limits<std::int64_t>::max())));
    EXPECT_EQ(repliesUntil(client, "datacollection", "DISCONNECT").back(),
              "DISCONNECT " + progressData(74, kDisconnected));
}

// What was recorded before the board or the browser went away reaches the cloud; the acknowledgement
// of the start that arrives afterwards changes nothing. A silent HALDEN board is reported first.
TEST_F(DataCollectionEndToEnd, ALostBoardOrBrowserKeepsWhatWasRecorded) {
    startService(kTimeScale);
    scriptCloud(common::DeviceKind::NANO_33_BLE, kId, 1s);
    const auto board = simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application,
                                             streamingFirmware());
    auto client = browser();
    ASSERT_TRUE(client.sendText(startRequest("USB", 100)));
    ASSERT_TRUE(waitForRecordingStart(kId));
    ASSERT_TRUE(waitForRecordedPackets(kId, 5));
    simulator->usb().unplug(board);
    EXPECT_EQ(repliesUntil(client, "datacollection", "DISCONNECT").back(),
              "DISCONNECT " + progressData(kId, kDisconnected));
    ASSERT_TRUE(waitForCloud([&] { return storedSegments().size() == 1; })) << service->log();
    expectOneRunOfPackets(storedSegments());
    EXPECT_EQ(count([](const auto& request) { return request.method == "PATCH"; }), 0U) << "status reported";

    scriptCloud(common::DeviceKind::NANO_33_BLE, 72, 1s);
    simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application, streamingFirmware());
    auto closing = browser();
    ASSERT_TRUE(closing.sendText(startRequest("USB", 100)));
    ASSERT_TRUE(waitForRecordingStart(72));
    ASSERT_TRUE(waitForRecordedPackets(72, 5));
    closing.close();
    ASSERT_TRUE(waitForCloud([&] { return storedSegments(72).size() == 1; })) << service->log();
    expectOneRunOfPackets(storedSegments(72));

    // Long enough for the board's silence (2 s, not scaled) to show.
    scriptCloud(common::DeviceKind::HALDEN_FLAMENCO, 73);
    simulator->usb().plug(common::DeviceKind::HALDEN_FLAMENCO, UsbBoardMode::application,
                          streamingFirmware(BoardFault::silence));
    ASSERT_TRUE(client.sendText(startRequest("USB", 200)));
    auto replies = repliesUntil(client, "datacollection", "DISCONNECT");
    ASSERT_GE(replies.size(), 3U);
    replies.erase(replies.begin(), replies.end() - 3);
    EXPECT_EQ(replies, (std::vector<std::string>{
                           "finish reset " + progressData(73),
                           "ERROR " + progressData(73, "Device not responding. Please reset the device."),
                           "DISCONNECT " + progressData(73, kDisconnected)}));
}

TEST_F(DataCollectionEndToEnd, CollectionSyncUploadsSampleFilesDeletesTheRestAndReportsTheOutcome) {
    startService(kTimeScale);
    auto client = browser();
    pointServiceAtCloud(client);
    const auto write = [this](std::int64_t id, const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories(collectionFolder(id));
        std::ofstream(collectionFolder(id) / name, std::ios::binary) << bytes;
    };
    for (const auto* name :
         {"sensors_12.bin", "sensors_-3.bin", "sensors_.bin", "sensors_x.bin",
          "sensors_temp_1700000000.5.bin", "notes.txt", "sensors_123456789012345678901234567890.bin"}) {
        write(80, name, name);
    }
    // Left by a recording that never ended: its whole packets are uploaded as a segment, a file without
    // one is deleted.
    const std::string cutShort = packetRun(20, 3) + packetRun(23, 1).substr(0, 25);
    write(80, "sensors_temp_1700000000.5_20.bin", cutShort);
    write(80, "sensors_temp_1700000001.5_23.bin", "");
    cloud->replies("POST", collectionPath(80) + "/json",
                   {ScriptedReply::json(200, "{}"), ScriptedReply::text(418, "")});
    cloud->reply("PATCH", collectionPath(80) + "/data_collection/status", ScriptedReply::json(200, "{}"));
    ASSERT_TRUE(client.sendText(syncRequest(80)));
    EXPECT_EQ(repliesUntil(client, "collection_sync", "SUCCESS"),
              (std::vector<std::string>{"MESSAGE: Syncing collection 80",
                                        "SUCCESS: Uploaded data collection files to collection 80"}));
    EXPECT_EQ(count([](const auto& request) { return request.query == "first_packet_index=12"; }), 1U);
    EXPECT_EQ(count([](const auto& request) { return request.query == "first_packet_index=-3"; }), 1U);
    EXPECT_EQ(count([](const auto& request) {
                  return request.query == "first_packet_index=20" && request.body == packetRun(20, 3);
              }),
              1U);
    EXPECT_EQ(count([](const auto& request) { return request.query == "first_packet_index=23"; }), 0U);
    EXPECT_FALSE(std::filesystem::exists(collectionFolder(80)));
    EXPECT_TRUE(waitForStatusReports(80, "DONE"));
    EXPECT_TRUE(waitForStatusReports(80, "UPLOAD"));

    // An empty folder is deleted; a missing one makes no call.
    std::filesystem::create_directories(collectionFolder(81));
    const std::size_t calls = cloud->requests().size();
    for (const std::int64_t id : {81, 82}) {
        ASSERT_TRUE(client.sendText(syncRequest(id)));
        EXPECT_EQ(repliesUntil(client, "collection_sync", "ERROR"),
                  std::vector<std::string>{"ERROR: No local data collection files to upload for collection " +
                                           std::to_string(id)});
    }
    EXPECT_FALSE(std::filesystem::exists(collectionFolder(81)));
    EXPECT_EQ(cloud->requests().size(), calls);

    // A file that never uploads: an incomplete sync, and the handshake is answered while it waits.
    write(83, "sensors_0.bin", packetRun(0, 3));
    cloud->reply("POST", collectionPath(83) + "/json", ScriptedReply::text(500, "down"));
    ASSERT_TRUE(client.sendText(syncRequest(83)));
    ASSERT_EQ(repliesUntil(client, "collection_sync", "MESSAGE").size(), 1U);
    ASSERT_TRUE(client.sendText(R"({"buildNumber": 0})"));
    EXPECT_NE(client.receive(kWait).value_or(test_support::ReceivedMessage{}).payload.find("handshake"),
              std::string::npos);
    EXPECT_EQ(
        repliesUntil(client, "collection_sync", "ERROR"),
        std::vector<std::string>{"ERROR: Incomplete upload of data collection files for collection 83"});
    EXPECT_TRUE(waitForStatusReports(83, "DONE", 0));
    EXPECT_TRUE(std::filesystem::exists(collectionFolder(83) / "sensors_0.bin"));

    // An empty segment is reported to the cloud once, then it is gone.
    write(85, "sensors_0.bin", "");
    cloud->reply("PATCH", collectionPath(85) + "/data_collection/status", ScriptedReply::json(200, "{}"));
    for (const auto* reply : {"ERROR: Incomplete upload of data collection files for collection 85",
                              "ERROR: No local data collection files to upload for collection 85"}) {
        ASSERT_TRUE(client.sendText(syncRequest(85)));
        EXPECT_EQ(repliesUntil(client, "collection_sync", "ERROR").back(), reply);
    }
    EXPECT_TRUE(waitForStatusReports(85, "ERROR"));
    EXPECT_FALSE(std::filesystem::exists(collectionFolder(85)));
}

class StoppedRecording : public DataCollectionEndToEnd,
                         public ::testing::WithParamInterface<std::tuple<std::string, int>> {};

// A service stopped while it records, by SIGTERM (the tray's Quit, a logout, a shutdown) or by SIGKILL
// (as a crash), leaves its packets for a collection sync: a fresh service's sync brings them to the
// cloud once each, at contiguous indices, whether their segment had been uploaded already, was
// uploading, or was the file being recorded. After SIGTERM that is every packet the board had sent
// once the service had taken them in (that file is saved as a segment); after SIGKILL every packet that
// had reached the disk.
TEST_P(StoppedRecording, EveryPacketTakenInIsStoredOnceAfterTheSync) {
    const auto& [link, signal] = GetParam();
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    ScriptedReply slowUpload = ScriptedReply::json(200, "{}");
    slowUpload.delay = 300ms;  // so that an upload is in flight when the service stops
    cloud->reply("POST", collectionPath(kId) + "/json", slowUpload);
    startService(kTimeScale);
    // The packets the board has begun to send so far; the n-th carries the sequence number n - 1.
    std::function<std::size_t()> packetsSent;
    if (link == "USB") {
        const BoardId board = simulator->usb().plug(common::DeviceKind::NANO_33_BLE,
                                                    UsbBoardMode::application, streamingFirmware());
        packetsSent = [this, board] {
            return simulator->usb().board(board)->bursts;
        };
    } else {
        auto& board = simulator->addWifiBoard(6012, streamingFirmware());
        ASSERT_TRUE(board.waitUntil([](const WifiBoardSnapshot& state) { return state.connected; }, kWait));
        packetsSent = [&board] {
            return board.snapshot().bursts;
        };
    }
    std::uint32_t firstRecorded = 0;
    std::int64_t expected = 0;
    {
        auto client = browser();
        ASSERT_TRUE(client.sendText(startRequest(link, 100)));
        ASSERT_TRUE(waitForCloud([&] { return storedSegments().size() == 1; }));
        firstRecorded = expectOneRunOfPackets(storedSegments());
        ASSERT_TRUE(waitForRecordedPackets(kId, 5));
        if (signal == SIGTERM) {
            expected = static_cast<std::int64_t>(packetsSent()) - firstRecorded;
            ASSERT_TRUE(test_support::eventually([&] { return packetsOnDisk(kId) >= expected; }, kWait));
            const auto exit = service->stop();
            ASSERT_TRUE(exit);
            EXPECT_EQ(*exit, (common::ProcessExit{common::ExitKind::killedBySignal, SIGTERM}));
            for (const auto& entry : std::filesystem::directory_iterator(collectionFolder(kId))) {
                EXPECT_EQ(entry.path().filename().string().find("temp"), std::string::npos)
                    << entry.path() << " kept its temporary name";
            }
        } else {
            service->kill();
            expected = packetsOnDisk(kId);
        }
    }

    startService(kTimeScale);
    auto client = browser();
    pointServiceAtCloud(client);
    ASSERT_TRUE(client.sendText(syncRequest(kId)));
    EXPECT_EQ(repliesUntil(client, "collection_sync", "SUCCESS").back(),
              "SUCCESS: Uploaded data collection files to collection 71");
    const auto stored = storedSegments();
    EXPECT_EQ(expectOneRunOfPackets(stored), firstRecorded);
    std::size_t bytes = 0;
    for (const auto& [index, segment] : stored) {
        bytes += segment.size();
    }
    EXPECT_GE(bytes / simulatedSamplePacket(kSensorIds, 0).size(), static_cast<std::size_t>(expected))
        << service->log();
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedRecording,
                         ::testing::Combine(::testing::Values("USB", "WIFI"),
                                            ::testing::Values(SIGTERM, SIGKILL)),
                         [](const auto& row) {
                             return std::get<0>(row.param) +
                                    (std::get<1>(row.param) == SIGTERM ? "_SIGTERM" : "_SIGKILL");
                         });

// A cloud that takes no upload gets the status ERROR, not DONE, and the browser an ERROR reply that
// says what is kept and what to do; the segments stay for a collection sync.
TEST_F(DataCollectionEndToEnd, ACloudThatTakesNoUploadGetsErrorAndTheBrowserHearsWhatIsKept) {
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    cloud->reply("POST", collectionPath(kId) + "/json", ScriptedReply::text(500, "down"));
    // The five tries of the last segment end well inside the minute of the wait for the uploads.
    startService(2 * kTimeScale);
    simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application, streamingFirmware());
    auto client = browser();
    ASSERT_TRUE(client.sendText(startRequest("USB")));

    ASSERT_EQ(repliesUntil(client, "datacollection", "start waiting").back(),
              "start waiting " + progressData(kId));
    // While the uploads are waited for, nothing the board sends goes to a file that a crash would leave
    // for a sync: the recording's packets are all in its segments.
    for (const auto& entry : std::filesystem::directory_iterator(collectionFolder(kId))) {
        EXPECT_EQ(entry.path().filename().string().find("temp"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(repliesUntil(client, "datacollection", "ERROR"),
              (std::vector<std::string>{"finish waiting " + progressData(kId),
                                        "ERROR " + progressData(kId, kThreeSegmentsKept)}))
        << service->log();
    ASSERT_TRUE(waitForStatusReports(kId, "ERROR"));
    EXPECT_TRUE(waitForStatusReports(kId, "DONE", 0));
    EXPECT_EQ(count([&](const RecordedRequest& request) {
                  return request.method == "PATCH" &&
                         request.body == R"({"error_code":-1,"error_description":")" + kThreeSegmentsKept +
                                             R"(","status":"ERROR"})";
              }),
              1U);
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(collectionFolder(kId))) {
        if (const auto name = entry.path().filename().string(); name.find("temp") == std::string::npos) {
            kept.push_back(name);
        }
    }
    EXPECT_EQ(kept.size(), 3U);
}

// The last upload outlives the wait for the uploads: the recording ends with ERROR and the advice to
// run a collection sync; once that upload has succeeded nothing is lost or left, the collection's
// status goes to DONE, and the sync finds nothing more to upload.
TEST_F(DataCollectionEndToEnd, AnUploadThatOutlivesTheWaitAndThenSucceedsLeavesTheCollectionDone) {
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    // Past the settling pause and the minute of the wait (both scaled), by half of them.
    ScriptedReply late = ScriptedReply::json(200, "{}");
    late.delay = std::chrono::milliseconds(static_cast<std::int64_t>(1.5 * 62'000 * kTimeScale));
    cloud->replies("POST", collectionPath(kId) + "/json",
                   {ScriptedReply::json(200, "{}"), ScriptedReply::json(200, "{}"), late});
    startService(kTimeScale);
    simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application, streamingFirmware());
    auto client = browser();
    ASSERT_TRUE(client.sendText(startRequest("USB")));
    EXPECT_EQ(
        repliesUntil(client, "datacollection", "ERROR").back(),
        "ERROR " + progressData(kId,
                                "Data collection ended with errors: 1 segment was still uploading when "
                                "the wait for the uploads ended. Segments that are not uploaded are kept "
                                "on this computer: run a collection sync of this collection to upload "
                                "them."))
        << service->log();
    ASSERT_TRUE(waitForStatusReports(kId, "DONE")) << service->log();
    std::vector<std::string> statuses;
    for (const auto& request : cloud->requests()) {
        if (request.method == "PATCH") {
            statuses.push_back(nlohmann::json::parse(request.body)["status"]);
        }
    }
    EXPECT_EQ(statuses, (std::vector<std::string>{"UPLOAD", "ERROR", "DONE"}));
    EXPECT_EQ(storedSegments().size(), 3U);
    expectOneRunOfPackets(storedSegments());
    EXPECT_TRUE(test_support::eventually(
        [&] { return test_support::occurrences(service->log(), "USB: API notified of done status") == 1; },
        kWait))
        << service->log();
    ASSERT_TRUE(client.sendText(syncRequest(kId)));
    EXPECT_EQ(repliesUntil(client, "collection_sync", "ERROR"),
              std::vector<std::string>{"ERROR: No local data collection files to upload for collection 71"});
}

// The temporary folder is on a small tmpfs that fills during a WiFi recording and has space again a
// little later: the file being recorded ends as a segment with the packets it holds and the next one
// begins with the next packet written, at its index. Every stored segment is one unbroken run at its
// index, the lost packets are the gap between two of them, and the end is ERROR.
TEST_F(DataCollectionEndToEnd, ADiskThatFillsForAWhileLeavesEveryPacketAtItsIndex) {
    const auto temporary = folder.path() / "service" / "tmp";
    std::filesystem::create_directories(temporary);
    ASSERT_EQ(::mount("tmpfs", temporary.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    struct Unmount {
        std::filesystem::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{temporary};
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    startService(kTimeScale);
    auto& board = simulator->addWifiBoard(6012, streamingFirmware());
    ASSERT_TRUE(board.waitUntil([](const WifiBoardSnapshot& state) { return state.connected; }, kWait));
    auto client = browser();
    ASSERT_TRUE(client.sendText(startRequest("WIFI", 60)));
    ASSERT_TRUE(test_support::eventually(
        [&] { return test_support::occurrences(service->log(), "API notified of DC start") == 1; }, kWait));
    ASSERT_TRUE(waitForRecordedPackets(kId, 5));

    {
        const common::FileDescriptor filler(
            ::open((temporary / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        ASSERT_TRUE(filler.valid()) << std::strerror(errno);
        const std::string page(4096, 'x');
        while (::write(filler.get(), page.data(), page.size()) > 0) {
        }
        ASSERT_EQ(errno, ENOSPC);
    }
    ASSERT_TRUE(test_support::eventually(
        [&] { return test_support::occurrences(service->log(), "Could not write recorded samples to ") > 0; },
        kWait))
        << service->log();
    const std::size_t sentWhenFull = board.snapshot().bursts;
    ASSERT_TRUE(board.waitUntil(
        [&](const WifiBoardSnapshot& state) { return state.bursts >= sentWhenFull + 20; }, kWait))
        << service->log();
    std::filesystem::remove(temporary / "filler");

    const std::string ended = repliesUntil(client, "datacollection", "ERROR").back();
    const std::string lostText = "Data collection ended with errors: ";
    const auto at = ended.find(lostText);
    ASSERT_NE(at, std::string::npos) << ended << service->log();
    const std::int64_t lost = std::stoll(ended.substr(at + lostText.size()));
    EXPECT_NE(ended.find(std::to_string(lost) + " packet" + (lost == 1 ? "" : "s") +
                         " could not be written to the disk (is it full?)"),
              std::string::npos)
        << ended;
    ASSERT_TRUE(waitForStatusReports(kId, "ERROR")) << service->log();
    const auto stored = storedSegments();
    const auto packets = test_support::expectEveryPacketAtItsIndex(stored, kSensorIds);
    EXPECT_EQ(stored.begin()->first, 0);
    EXPECT_GT(lost, 0);
    EXPECT_EQ(packets.missing, lost) << "the lost packets are not the gap between two segments";
}

// Two syncs of one collection sent together: one uploads every file once and reports it done, the
// other finds the folder in use and leaves it alone, with no report to the cloud.
TEST_F(DataCollectionEndToEnd, TwoSyncsOfOneCollectionSentTogetherUploadEveryFileOnce) {
    constexpr std::int64_t id = 84;
    startService(kTimeScale);
    auto client = browser();
    pointServiceAtCloud(client);
    std::filesystem::create_directories(collectionFolder(id));
    for (const std::uint32_t first : {0U, 3U, 6U}) {
        std::ofstream(collectionFolder(id) / ("sensors_" + std::to_string(first) + ".bin"), std::ios::binary)
            << packetRun(first, 3);
    }
    // Uploads slow enough that both syncs have seen every file before the first one is stored.
    ScriptedReply slowUpload = ScriptedReply::json(200, "{}");
    slowUpload.delay = 300ms;
    cloud->reply("POST", collectionPath(id) + "/json", slowUpload);
    cloud->rejectRepeatedQueries("POST", collectionPath(id) + "/json");
    cloud->reply("PATCH", collectionPath(id) + "/data_collection/status", ScriptedReply::json(200, "{}"));
    ASSERT_TRUE(client.sendText(syncRequest(id)));
    ASSERT_TRUE(client.sendText(syncRequest(id)));

    auto replies = repliesUntil(client, "collection_sync", "SUCCESS");
    if (std::none_of(replies.begin(), replies.end(),
                     [](const auto& reply) { return reply.starts_with("ERROR"); })) {
        const auto rest = repliesUntil(client, "collection_sync", "ERROR");
        replies.insert(replies.end(), rest.begin(), rest.end());
    }
    std::sort(replies.begin(), replies.end());
    EXPECT_EQ(replies,
              (std::vector<std::string>{"ERROR: No local data collection files to upload for collection 84",
                                        "MESSAGE: Syncing collection 84",
                                        "SUCCESS: Uploaded data collection files to collection 84"}));
    ASSERT_TRUE(waitForStatusReports(id, "DONE"));
    EXPECT_EQ(count([&](const auto& request) { return request.path == collectionPath(id) + "/json"; }), 3U);
    EXPECT_EQ(expectOneRunOfPackets(storedSegments(id)), 0U);
    EXPECT_TRUE(waitForStatusReports(id, "ERROR", 0));
    EXPECT_FALSE(std::filesystem::exists(collectionFolder(id)));
}

// A cloud that redirects every upload to an address that answers a GET with 200 never took a file:
// every segment stays on disk, and a later sync against a sound cloud stores each packet once.
TEST_F(DataCollectionEndToEnd, UploadsRedirectedToAGetStayOnDiskUntilTheSyncStoresThem) {
    scriptCloud(common::DeviceKind::NANO_33_BLE);
    cloud->reply("POST", collectionPath(kId) + "/json", ScriptedReply::redirect(302, "/maintenance"));
    cloud->reply("GET", "/maintenance", ScriptedReply::json(200, "{}"));
    startService(2 * kTimeScale);
    simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application, streamingFirmware());
    auto client = browser();
    ASSERT_TRUE(client.sendText(startRequest("USB")));
    // No segment reached the cloud: the recording ends in an error that says what is kept.
    EXPECT_EQ(repliesUntil(client, "datacollection", "ERROR").back(),
              "ERROR " + progressData(kId, kThreeSegmentsKept));
    // Three segments, five tries each, every one refused.
    ASSERT_TRUE(test_support::eventually(
        [&] { return test_support::occurrences(service->log(), "Failed upload: ") == 3U; }, kWait))
        << service->log();
    EXPECT_EQ(test_support::occurrences(service->log(), "statusCode: 302, try #"), 15U);
    EXPECT_EQ(test_support::occurrences(service->log(), "with 302 to \"http://127.0.0.1:" +
                                                            std::to_string(cloud->port()) + "/maintenance\""),
              15U);
    EXPECT_EQ(test_support::occurrences(service->log(), "Successful upload"), 0U);
    EXPECT_EQ(count([](const auto& request) { return request.path == "/maintenance"; }), 0U);
    std::size_t kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(collectionFolder(kId))) {
        kept += entry.path().filename().string().find("temp") == std::string::npos ? 1U : 0U;
    }
    EXPECT_EQ(kept, 3U);

    // A later run of the service finds them and uploads them to a sound cloud.
    service->stop();
    EXPECT_FALSE(service->sanitizerReported()) << service->output();
    startService(2 * kTimeScale);
    auto later = browser();
    pointServiceAtCloud(later);
    cloud->reply("POST", collectionPath(kId) + "/json", ScriptedReply::json(200, "{}"));
    ASSERT_TRUE(later.sendText(syncRequest(kId)));
    EXPECT_EQ(repliesUntil(later, "collection_sync", "SUCCESS").back(),
              "SUCCESS: Uploaded data collection files to collection 71")
        << service->log();
    const auto stored = storedSegments();
    EXPECT_EQ(stored.size(), 3U) << service->log();
    expectOneRunOfPackets(stored);
}

// A 307 to another address sends the whole file there once; a 418 that comes before the cloud read
// any of the file means that the cloud holds it: the file is deleted after that one try.
TEST_F(DataCollectionEndToEnd, SyncedFileFollowsATemporaryRedirectWholeAndA418EndsItsUploadAtOnce) {
    // The sync waits 12 s for its upload, enough for a busy machine.
    startService(4 * kTimeScale);
    auto client = browser();
    pointServiceAtCloud(client);
    // A file of `megabytes` MiB, written as collection `id`'s one segment.
    const auto write = [this](std::int64_t id, std::size_t megabytes) {
        std::string bytes(megabytes * 1024 * 1024, '\0');
        for (std::size_t at = 0; at < bytes.size(); ++at) {
            bytes[at] = static_cast<char>(at * 7 % 251);
        }
        std::filesystem::create_directories(collectionFolder(id));
        std::ofstream(collectionFolder(id) / "sensors_0.bin", std::ios::binary) << bytes;
        return bytes;
    };

    FakeCloud elsewhere;
    const std::string moved = collectionPath(85) + "/moved";
    const std::string file = write(85, 1);
    cloud->reply("POST", collectionPath(85) + "/json",
                 ScriptedReply::redirect(307, elsewhere.baseUrl() + moved + "?first_packet_index=0"));
    elsewhere.reply("POST", moved, ScriptedReply::json(200, "{}"));
    ASSERT_TRUE(client.sendText(syncRequest(85)));
    EXPECT_EQ(repliesUntil(client, "collection_sync", "SUCCESS").back(),
              "SUCCESS: Uploaded data collection files to collection 85")
        << service->log();
    ASSERT_EQ(elsewhere.requests().size(), 1U);
    EXPECT_EQ(elsewhere.requests()[0].query, "first_packet_index=0");
    EXPECT_TRUE(elsewhere.requests()[0].body == file) << elsewhere.requests()[0].body.size() << " bytes";
    EXPECT_FALSE(std::filesystem::exists(collectionFolder(85)));

    // The first connection takes the start request that points the service at this server; every later
    // one, the file's upload or a status report, gets 418 before its body is read. Each is left open
    // (closing it with the body unread would reset it before the client reads the reply) but announced
    // as closing, so that no later request waits on it.
    test::RawTcpServer early(
        {test::RawExchange{test::RawExchange::Reading::wholeRequest,
                           "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"},
         test::RawExchange{test::RawExchange::Reading::headerOnly,
                           "HTTP/1.1 418 I'm a teapot\r\nConnection: close\r\nContent-Length: 0\r\n\r\n",
                           test::RawExchange::Ending::stayOpen}});
    ASSERT_TRUE(
        client.sendText(R"({"startDataCollection": true, "command": "start", "project_id": 9, )"
                        R"("scheme": "http", "host": "localhost", "port": ")" +
                        std::to_string(early.port()) +
                        R"(", "auth_token": "t", "kind": "TRAINING", "num_instances": 1, "label": "l",)"
                        R"( "dataset_name": "d", "sensor_config": [], "data_collection_type": "USB"})"));
    ASSERT_EQ(repliesUntil(client, "datacollection", "ERROR").size(), 3U);
    // Larger than what the connection's buffers take in before the reply, which comes unread.
    write(86, 16);
    ASSERT_TRUE(client.sendText(syncRequest(86)));
    EXPECT_EQ(repliesUntil(client, "collection_sync", "SUCCESS").back(),
              "SUCCESS: Uploaded data collection files to collection 86")
        << service->log();
    EXPECT_FALSE(std::filesystem::exists(collectionFolder(86)));
    EXPECT_EQ(test_support::occurrences(service->log(), "uploadRequest file: "), 2U) << service->log();
    EXPECT_EQ(test_support::occurrences(service->log(), "has already been uploaded to collection"), 1U);
}

// A request whose "port" is empty reaches the cloud on the scheme's default port.
TEST_F(DataCollectionEndToEnd, EmptyPortIsTheSchemesDefaultPort) {
    FakeCloud onDefaultPort(80);
    onDefaultPort.reply("POST", "/api/collection", ScriptedReply::json(200, "{}"));
    startService(kTimeScale);
    auto client = browser();
    ASSERT_TRUE(
        client.sendText(R"({"startDataCollection": true, "command": "start", "project_id": 9, )"
                        R"("scheme": "http", "host": "localhost", "port": "", "auth_token": "t", )"
                        R"("kind": "TRAINING", "num_instances": 1, "label": "l", "dataset_name": "d", )"
                        R"("sensor_config": [], "data_collection_type": "USB"})"));
    ASSERT_EQ(repliesUntil(client, "datacollection", "ERROR").size(), 3U);
    const auto requests = onDefaultPort.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].path, "/api/collection");
    EXPECT_EQ(requests[0].header("X-brisel-api-key"), "t");
}

}  // namespace
}  // namespace brisel::test
