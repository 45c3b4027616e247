// Latency measurement end to end: the real service flashes the library it finds in the fake cloud's
// build onto a simulated board, reads the board's latency lines and reports the mean.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

#include "cloud/build_records.h"
#include "common/json_codec.h"
#include "support/eventually.h"
#include "workflow_e2e_fixture.h"

namespace brisel::test {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kModelId = 5;
const std::string kLibraryKey = "lib/rf-model.bin";

// One latency reply: its status and message.
struct LatencyReply {
    std::string status;
    std::string message;
    friend bool operator==(const LatencyReply&, const LatencyReply&) = default;
    friend std::ostream& operator<<(std::ostream& out, const LatencyReply& reply) {
        return out << reply.status << " \"" << reply.message << "\"";
    }
};

class LatencyEndToEnd : public WorkflowEndToEnd {
  protected:
    // Scripts run `runId`: the board kind, the build (status `status`, one RANDOM_FOREST model), and
    // the library image with `firmware` under kLibraryKey.
    void scriptRun(std::int64_t runId, std::optional<FirmwarePersonality> firmware,
                   cloud::BuildStatus status = cloud::BuildStatus::DONE,
                   common::DeviceKind kind = common::DeviceKind::NANO_33_BLE) {
        const std::string run = "/api/run/" + std::to_string(runId);
        cloud->reply(
            "GET", run + "/device_kind",
            ScriptedReply::json(200, R"({"device_kind": ")" + std::string(common::rawValue(kind)) + "\"}"));
        cloud::BuildResponse build;
        build.id = runId;
        build.status = status;
        cloud::Model model;
        model.id = kModelId;
        model.kind = common::ModelKind::RANDOM_FOREST;
        build.models = {model};
        build.results = {{.id = 1, .key = "lib/gbm-model.bin", .runID = runId},
                         {.id = 2, .key = kLibraryKey, .runID = runId}};
        cloud->reply("GET", "/api/build/" + std::to_string(runId),
                     ScriptedReply::json(200, *common::encodeJsonText(build)));
        if (firmware) {
            const auto image = makeTestImage(*firmware);
            ScriptedReply library = ScriptedReply::text(200, std::string(image.begin(), image.end()));
            library.contentType = "application/octet-stream";
            cloud->reply("GET", run + "/result/" + kLibraryKey, std::move(library));
        }
        cloud->reply("PATCH", "/api/model/" + std::to_string(kModelId), ScriptedReply::json(200, "{}"));
        cloud->reply("PATCH", run, ScriptedReply::json(200, "{}"));
    }

    std::string request(std::int64_t runId, std::int64_t modelId = kModelId) const {
        return R"({"measure_latency": true, "command": "measure_latency", )" + cloudFields() +
               R"(, "run_id": )" + std::to_string(runId) + R"(, "model_id": )" + std::to_string(modelId) +
               "}";
    }

    // The latency replies of one request, up to its last one ("DONE", "ERROR" or "WARNING" not
    // followed by more within a short wait).
    std::vector<LatencyReply> latencyReplies(test_support::WebSocketTestClient& client) const {
        std::vector<LatencyReply> replies;
        auto wait = 60s;
        while (auto received = client.receive(std::chrono::duration_cast<std::chrono::milliseconds>(wait))) {
            const auto json = nlohmann::json::parse(received->payload, nullptr, false);
            if (json.is_discarded() || json["data"]["command"] != "latency") {
                continue;
            }
            replies.push_back({json["data"]["status"], json["data"]["data"].value("message", "")});
            const std::string& status = replies.back().status;
            const bool last = status == "DONE" || status == "WARNING" ||
                              (status == "ERROR" &&
                               replies.back().message.find("notify API of latency") == std::string::npos);
            wait = last ? 1s : 60s;
        }
        return replies;
    }

    std::vector<RecordedRequest> patches() const {
        std::vector<RecordedRequest> found;
        for (auto& request : cloud->requests()) {
            if (request.method == "PATCH") {
                found.push_back(std::move(request));
            }
        }
        return found;
    }
};

FirmwarePersonality latencyFirmware(std::vector<std::int64_t> latencies,
                                    BoardFault fault = BoardFault::none) {
    FirmwarePersonality firmware;
    firmware.kind = FirmwareKind::latency;
    firmware.latencies = std::move(latencies);
    firmware.fault = fault;
    return firmware;
}

// The board writes each line in two halves: "LATENCY: 1" | "23456789\r\n" for a nine-digit value,
// "LATENCY: " | "1234567\r\n" for a seven-digit one.
FirmwarePersonality splitLatencyFirmware(std::int64_t latency) {
    FirmwarePersonality firmware = latencyFirmware({latency});
    firmware.splitLines = true;
    return firmware;
}

TEST_F(LatencyEndToEnd, AMeasuredLatencyIsReportedToTheModelAndTheRunAndTheBrowser) {
    simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application);
    startService(0.05);
    auto client = browser();
    struct Row {
        const char* label;
        FirmwarePersonality firmware;
        std::string logged;
        std::int64_t latency = 42;
    };
    const std::vector<Row> rows{
        {"good lines", latencyFirmware({42}), "Successfully measured latency for RANDOM_FOREST"},
        {"a trailing blank and a 20-digit value are ignored",
         latencyFirmware({42}, BoardFault::malformedLatencies), "Malformed value received, ignoring"},
        {"a line of 300000 bytes does no harm", latencyFirmware({42}, BoardFault::overlongLines),
         "Successfully measured latency for RANDOM_FOREST"},
        {"lines cut inside the number", splitLatencyFirmware(123456789),
         "Successfully measured latency for RANDOM_FOREST", 123456789},
        {"prefix and number in separate writes", splitLatencyFirmware(1234567),
         "Successfully measured latency for RANDOM_FOREST", 1234567},
    };
    std::int64_t runId = 10;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        scriptRun(++runId, row.firmware);
        const std::size_t patchesBefore = patches().size();
        ASSERT_TRUE(client.sendText(request(runId)));
        const std::vector<LatencyReply> expected{
            {"INFO", "Connecting to REST API..."},
            {"INFO", "Flashing library for RANDOM_FOREST"},
            {"SUCCESS", "Latency measured"},
            {"DONE", "Latency measured:" + std::to_string(runId)},
        };
        EXPECT_EQ(latencyReplies(client), expected) << service->log();
        const auto sent = patches();
        ASSERT_EQ(sent.size(), patchesBefore + 3);
        EXPECT_EQ(sent[patchesBefore].path, "/api/model/5");
        EXPECT_EQ(sent[patchesBefore].body, R"({"latency":)" + std::to_string(row.latency) + "}");
        const std::string run = "/api/run/" + std::to_string(runId);
        EXPECT_EQ(sent[patchesBefore + 1].path, run);
        EXPECT_EQ(sent[patchesBefore + 1].body,
                  R"({"latency_status":1,"latency_error":false,"status":"SUCCESS"})");
        EXPECT_EQ(sent[patchesBefore + 2].path, run);
        EXPECT_EQ(sent[patchesBefore + 2].body,
                  R"({"latency_status":1,"latency_error":false,"status":"DONE"})");
        EXPECT_TRUE(test_support::eventuallyContains([&] { return service->log(); }, row.logged, 20s));
    }
    const auto board = simulator->usb().boards().front();
    EXPECT_EQ(board.imagesFlashed.size(), rows.size());
    EXPECT_EQ(board.speeds.back(), 115200U);
}

TEST_F(LatencyEndToEnd, EveryFailureEndsTheMeasurementWithItsOneReply) {
    const auto boardId = simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application);
    startService(0.05);
    auto client = browser();
    const auto notDone = [this] {
        const std::int64_t runId = 21;
        scriptRun(runId, latencyFirmware({42}), cloud::BuildStatus::ACTIVE);
        return runId;
    };
    struct Row {
        const char* label;
        std::function<std::int64_t()> arrange;
        std::int64_t modelId;
        LatencyReply last;
        bool reachesFlashing;
        bool flashes;
    };
    const std::vector<Row> rows{
        {"no board kind",
         [] { return std::int64_t{20}; },
         kModelId,
         {"ERROR", "Failed to get device kind from API"},
         false,
         false},
        {"build still running",
         notDone,
         kModelId,
         {"WARNING", "No library found for RANDOM_FOREST model, skipping latency measurement."},
         false,
         false},
        {"no board of the kind",
         [this] {
             scriptRun(22, latencyFirmware({42}), cloud::BuildStatus::DONE,
                       common::DeviceKind::NICLA_SENSE_ME);
             return std::int64_t{22};
         },
         kModelId,
         {"ERROR", "Device not connected"},
         false,
         false},
        {"no build",
         [this] {
             cloud->reply("GET", "/api/run/23/device_kind",
                          ScriptedReply::json(200, R"({"device_kind": "NANO_33_BLE"})"));
             return std::int64_t{23};
         },
         kModelId,
         {"ERROR", "Failed to get build from API"},
         false,
         false},
        {"no such model",
         [this] {
             scriptRun(24, latencyFirmware({42}));
             return std::int64_t{24};
         },
         99,
         {"ERROR", "Failed to find model 99 for build 24"},
         false,
         false},
        {"no library file",
         [this] {
             scriptRun(26, std::nullopt);
             return std::int64_t{26};
         },
         kModelId,
         {"ERROR",
          "Failed to download device binary due to error APIError(statusCode: Optional(404), message: "},
         true,
         false},
        {"a silent board",
         [this] {
             scriptRun(25, latencyFirmware({42}, BoardFault::silence));
             return std::int64_t{25};
         },
         kModelId,
         {"ERROR", "Unable to read latency value for RANDOM_FOREST - model id: 5"},
         true,
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::int64_t runId = row.arrange();
        const std::size_t flashedBefore = simulator->usb().board(boardId)->imagesFlashed.size();
        ASSERT_TRUE(client.sendText(request(runId, row.modelId)));
        std::vector<LatencyReply> expected{{"INFO", "Connecting to REST API..."}};
        if (row.reachesFlashing) {
            expected.push_back({"INFO", "Flashing library for RANDOM_FOREST"});
        }
        auto replies = latencyReplies(client);
        // A REST error's own text follows the fixed part of the message.
        if (!replies.empty() && replies.back().message.starts_with(row.last.message)) {
            replies.back().message = row.last.message;
        }
        expected.push_back(row.last);
        EXPECT_EQ(replies, expected) << service->log();
        EXPECT_EQ(simulator->usb().board(boardId)->imagesFlashed.size(),
                  flashedBefore + (row.flashes ? 1 : 0));
    }
    EXPECT_TRUE(patches().empty());
}

TEST_F(LatencyEndToEnd, FailedReportsAreEachAnsweredOnceAndTheRunStillGetsItsFinalUpdate) {
    simulator->usb().plug(common::DeviceKind::NANO_33_BLE, UsbBoardMode::application);
    startService(0.05);
    auto client = browser();
    scriptRun(30, latencyFirmware({42}));
    cloud->reply("PATCH", "/api/model/5", ScriptedReply::json(500, R"({"error": "down"})"));
    ASSERT_TRUE(client.sendText(request(30)));
    auto replies = latencyReplies(client);
    ASSERT_EQ(replies.size(), 4U) << service->log();
    EXPECT_EQ(replies[2].status, "ERROR");
    EXPECT_EQ(
        replies[2].message.rfind("Failed to notify API of latency due to error APIError(statusCode: ", 0),
        0U);
    EXPECT_EQ(replies[3], (LatencyReply{"DONE", "Latency measured:30"}));

    cloud->reply("PATCH", "/api/model/5", ScriptedReply::json(200, "{}"));
    scriptRun(31, latencyFirmware({42}));
    cloud->reply("PATCH", "/api/run/31", ScriptedReply::json(500, R"({"error": "down"})"));
    ASSERT_TRUE(client.sendText(request(31)));
    replies = latencyReplies(client);
    ASSERT_EQ(replies.size(), 5U) << service->log();
    EXPECT_EQ(replies[2], (LatencyReply{"SUCCESS", "Latency measured"}));
    EXPECT_EQ(replies[3].message.rfind("Failed to notify API of latency due to error APIError(", 0), 0U);
    EXPECT_EQ(replies[4].status, "ERROR");
    EXPECT_EQ(replies[4].message.rfind("Failed to notify API of final status due to error APIError(", 0), 0U);
}

}  // namespace
}  // namespace brisel::test
