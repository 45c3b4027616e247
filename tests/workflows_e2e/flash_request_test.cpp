// Flash requests through the real service: the tools' exact arguments for every board kind on both
// machine kinds, the bootloader and DFU entry seen by the simulated boards, every failure reported once,
// WiFi flashes, and the tool runs bounded, serialised and ended with the connection.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "common/enum_raw_values.h"
#include "common/utilities.h"
#include "support/board_scenarios.h"
#include "support/eventually.h"
#include "support/log_capture.h"
#include "support/wifi_test_board.h"
#include "workflow_e2e_fixture.h"
#include "workflows/flash/flasher.h"

namespace brisel::test {
namespace {

using common::DeviceKind;
using namespace std::chrono_literals;

constexpr std::int64_t kRunId = 7;
constexpr auto kReplyWait = 60s;

class FlashRequestEndToEnd : public WorkflowEndToEnd {
  protected:
    // The default scale leaves a bootloader limit of 1.5 s: several times what the simulated boards
    // take to come back in their new mode, even on a loaded machine.
    void startFlashService(bool translated = false, double timeScale = 0.05) {
        if (service) {
            service->stop();
            service.reset();
        }
        if (translated) {
            extraEnvironment = {{"BRISEL_TRANSLATED_PROCESS", "1"}};
        }
        test_support::ServiceOptions options;
        options.executable = BRISEL_SERVICE;
        options.folder = folder.path() / ("service" + std::to_string(++services));
        options.environment = simulator->environment();
        options.environment.insert(options.environment.end(), extraEnvironment.begin(),
                                   extraEnvironment.end());
        options.timeScale = timeScale;
        auto started = test_support::ServiceProcess::start(options);
        ASSERT_TRUE(started) << started.error();
        service = std::move(*started);
    }

    // Waits until the service has heard the WiFi board say which firmware it runs: only then does
    // it take the board's acknowledgements of a transfer.
    bool serviceKnowsTheWifiBoard() const { return servicePrinted("WIFI: device mode:"); }

    // Waits until the service's standard output holds `fragment` (its lines reach it in the
    // background, possibly after the replies that follow them).
    bool servicePrinted(std::string_view fragment) const {
        return test_support::eventually(
            [this, fragment] { return service->output().find(fragment) != std::string::npos; }, kReplyWait);
    }

    // The cloud knows run `run` as one of a `kind` board whose library `libname` holds `image`.
    void cloudRun(DeviceKind kind, const std::vector<std::uint8_t>& image, std::int64_t run = kRunId,
                  const std::string& libname = "lib-cnn.bin") {
        cloud->reply(
            "GET", "/api/run/" + std::to_string(run) + "/device_kind",
            ScriptedReply::json(200, R"({"device_kind": ")" + std::string(common::rawValue(kind)) + R"("})"));
        auto reply = ScriptedReply::text(200, std::string(image.begin(), image.end()));
        reply.contentType = "application/octet-stream";
        cloud->reply("GET", "/api/run/" + std::to_string(run) + "/result/" + libname, reply);
    }

    std::string request(const std::string& type, std::int64_t run = kRunId,
                        const std::string& libname = "lib-cnn.bin", const std::string& more = "") const {
        return "{\"" + type + R"(": true, "command": "flash", )" + cloudFields() + R"(, "run_id": )" +
               std::to_string(run) + R"(, "libname": ")" + libname + "\"" + more + "}";
    }

    // The flash replies up to and including the first "COMPLETE" or "ERROR".
    static std::vector<std::string> flashReplies(test_support::WebSocketTestClient& client) {
        std::vector<std::string> replies;
        for (;;) {
            auto reply = test_support::receiveContaining(client, R"("command":"flash")", kReplyWait);
            if (!reply) {
                replies.push_back("(no reply within the wait)");
                return replies;
            }
            replies.push_back(*reply);
            if (reply->find(R"("status":"COMPLETE")") != std::string::npos ||
                reply->find(R"("status":"ERROR")") != std::string::npos) {
                return replies;
            }
        }
    }

    static std::string flashReply(const std::string& status, const std::string& data = "{}") {
        return R"({"command":"desktopClientResponse","status":"MESSAGE","data":{"command":"flash","status":")" +
               status + R"(","data":)" + data + "}}";
    }

    static std::string errorReply(const std::string& message, std::int64_t run = kRunId) {
        return flashReply("ERROR",
                          R"({"run_id":)" + std::to_string(run) + R"(,"message":")" + message + R"("})");
    }

    std::string libraryPath() const {
        return (service->temporaryFolder() / ("velko-" + std::to_string(::getuid())) / "library.bin")
            .string();
    }

    std::vector<std::pair<std::string, std::string>> extraEnvironment;
    int services = 0;
};

FirmwarePersonality personality(FirmwareKind kind) {
    FirmwarePersonality firmware;
    firmware.kind = kind;
    return firmware;
}

const FirmwarePersonality kClassification = personality(FirmwareKind::classification);

// The Part's argument lists, "PORT" and "IMAGE" standing for the board's port and library.bin.
struct KindRow {
    DeviceKind kind;
    UsbBoardMode plugged;  // how the board is attached when the flash starts
    std::vector<std::string> entries;
    std::string tool;
    std::vector<std::string> intel;
    std::vector<std::string> translated;
};

std::vector<KindRow> kindRows() {
    const std::string st = "0x0483:0x5740,0x0483:0xdf11";
    auto dfu = [](const std::string& filter, const std::string& address) {
        return std::vector<std::string>{"-d", filter, "-a", "0", "-s", address, "-D", "IMAGE"};
    };
    const std::vector<std::string> bossac{"--erase",    "--port",   "PORT",    "--reset",
                                          "--usb-port", "--verify", "--write", "IMAGE"};
    const std::vector<std::string> bossacM1{"--erase",  "--port",  "PORT", "--usb-port",
                                            "--verify", "--write", "IMAGE"};
    const std::vector<std::string> nicla{"-f", "interface/cmsis-dap.cfg",
                                         "-f", "target/nrf52.cfg",
                                         "-c", "init",
                                         "-c", "reset init",
                                         "-c", "halt",
                                         "-c", "program {IMAGE} verify reset exit"};
    const std::vector<std::string> flamenco{"-i", "--port=PORT", "-F", "-v", "IMAGE"};
    const std::vector<std::string> halden{"-p", "PORT", "-b", "921600", "-a", "-f", "IMAGE"};
    return {
        {DeviceKind::NANO_33_BLE,
         UsbBoardMode::application,
         {"BOOTLOADER"},
         "bossac_ble.darwin",
         bossac,
         bossacM1},
        {DeviceKind::NANO_33_BLE_REV2, UsbBoardMode::bootloader, {}, "bossac_ble.darwin", bossac, bossacM1},
        {DeviceKind::NANO_33_IOT,
         UsbBoardMode::application,
         {"BOOTLOADER"},
         "bossac_iot.darwin",
         {"--erase", "--reset", "--force_usb_port=true", "--verify", "--write", "IMAGE"},
         {"--erase", "--force_usb_port=true", "--verify", "--write", "IMAGE"}},
        {DeviceKind::QORVO_SAMD51,
         UsbBoardMode::application,
         {"1200"},
         "bossac_qorvo.darwin",
         {"-i", "-d", "-U", "-i", "--port", "PORT", "--offset=0x4000", "-w", "-v", "IMAGE", "-R"},
         {"-i", "-d", "-U", "-i", "--port", "PORT", "--offset=0x4000", "-w", "-v", "IMAGE"}},
        {DeviceKind::STWINKT1,
         UsbBoardMode::application,
         {"1200+150", "RESET"},
         "dfu-util",
         dfu(st, "0x08000000:leave"),
         dfu(st, "0x08000000")},
        {DeviceKind::SENSOR_TILE_BOX,
         UsbBoardMode::application,
         {"1200+110", "RESET"},
         "dfu-util",
         dfu(st, "0x08000000:leave"),
         dfu(st, "0x08000000")},
        {DeviceKind::PNG_STM32L4,
         UsbBoardMode::application,
         {"1200", "RESET"},
         "dfu-util",
         dfu("0x1209:0x6669,0x0483:0xdf11", "0x08000000:leave"),
         dfu("0x1209:0x6669,0x0483:0xdf11", "0x08000000")},
        {DeviceKind::STWINKT1_WIFI,
         UsbBoardMode::dfu,
         {},
         "dfu-util",
         dfu(st, "0x08000000:leave"),
         dfu(st, "0x08000000")},
        {DeviceKind::PNG_STM32WB5MMG,
         UsbBoardMode::dfu,
         {},
         "dfu-util",
         dfu("0x1209:0x6673,0x0483:0xdf11", "0x08000000:leave"),
         dfu("0x1209:0x6673,0x0483:0xdf11", "0x08000000")},
        {DeviceKind::NICLA_SENSE_ME, UsbBoardMode::application, {}, "openocd", nicla, nicla},
        {DeviceKind::HALDEN_I3MICRO, UsbBoardMode::application, {}, "halden_i3micro_flasher", halden, halden},
        {DeviceKind::HALDEN_FLAMENCO, UsbBoardMode::application, {}, "bossac_fla", flamenco, flamenco},
        {DeviceKind::HALDEN_FLAMENCO_ALT, UsbBoardMode::application, {}, "bossac_fla", flamenco, flamenco},
    };
}

std::vector<std::string> filled(std::vector<std::string> arguments, const std::string& port,
                                const std::string& image) {
    for (auto& argument : arguments) {
        for (const auto& [mark, value] :
             {std::pair{std::string("PORT"), port}, std::pair{std::string("IMAGE"), image}}) {
            if (const auto at = argument.find(mark); at != std::string::npos) {
                argument.replace(at, mark.size(), value);
            }
        }
    }
    return arguments;
}

// The port argument of a call ("--port X", "--port=X", "-p X"); empty when it has none.
std::string portOf(const std::vector<std::string>& arguments) {
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        if ((arguments[index] == "--port" || arguments[index] == "-p") && index + 1 < arguments.size()) {
            return arguments[index + 1];
        }
        if (arguments[index].starts_with("--port=")) {
            return arguments[index].substr(7);
        }
    }
    return "";
}

TEST_F(FlashRequestEndToEnd, EveryBoardKindGetsItsToolWithTheExactArgumentsOnBothMachineKinds) {
    const auto image = makeTestImage(kClassification);
    for (const bool translated : {false, true}) {
        // A bootloader limit of 4.5 s: a DFU board's entry runs a tool, touches and runs a tool again
        // within the limit, and one run of the fake tool alone may take over a second under a sanitizer
        // on a busy machine.
        startFlashService(translated, 0.15);
        auto client = browser();
        for (const auto& row : kindRows()) {
            SCOPED_TRACE(std::string(common::rawValue(row.kind)) + (translated ? " translated" : " intel"));
            const bool dfuTool = row.tool == "dfu-util";
            // A translated machine never brings a DFU board into DFU mode: the user has.
            const auto board =
                simulator->usb().plug(row.kind, translated && dfuTool ? UsbBoardMode::dfu : row.plugged);
            const std::size_t callsBefore = simulator->tools().calls().size();
            cloudRun(row.kind, image);
            ASSERT_TRUE(client.sendText(request("flashRequest")));
            auto replies = flashReplies(client);
            std::vector<std::string> expected{flashReply("START")};
            if (translated && row.kind == DeviceKind::HALDEN_FLAMENCO) {
                expected.push_back(flashReply(
                    "MANUAL_DEVICE_RESET",
                    R"({"run_id":7,"message":"To manually reset the device, disconnect the USB connection (and any battery), then reconnect the device."})"));
            }
            expected.push_back(flashReply("COMPLETE"));
            EXPECT_EQ(replies, expected) << service->log();

            const auto calls = simulator->tools().calls();
            ASSERT_GT(calls.size(), callsBefore);
            const auto& write = calls.back();
            EXPECT_EQ(write.tool, row.tool);
            EXPECT_EQ(write.arguments, filled(translated ? row.translated : row.intel,
                                              portOf(write.arguments), libraryPath()));
            if (row.tool != "bossac_iot.darwin" &&
                (row.tool.starts_with("bossac") || row.tool == "halden_i3micro_flasher")) {
                EXPECT_TRUE(portOf(write.arguments).starts_with("/dev/")) << portOf(write.arguments);
            }
            for (std::size_t index = callsBefore; index + 1 < calls.size(); ++index) {
                // Only dfu-util runs before the write: its DFU checks, or "--list" when translated.
                const auto check = translated
                                       ? std::vector<std::string>{"--list"}
                                       : std::vector<std::string>{"-d", write.arguments[1], "-a", "0", "-e"};
                EXPECT_EQ(calls[index].tool, "dfu-util");
                EXPECT_EQ(calls[index].arguments, check);
            }
            const bool entered = !(translated && dfuTool);
            const auto entries = entered ? row.entries : std::vector<std::string>{};
            // The board notes a command written just before the close on its next look at the line.
            simulator->usb().waitUntil(
                [&](const std::vector<UsbBoardSnapshot>& boards) {
                    return boards.at(board).entries == entries;
                },
                5s);
            const auto seen = simulator->usb().board(board);
            ASSERT_TRUE(seen);
            EXPECT_EQ(seen->entries, entries);
            if (row.entries.empty() || !entered) {
                EXPECT_EQ(seen->opens, 0U) << "a board already where its tool needs it gets no bytes";
            }
            simulator->usb().unplug(board);
        }
    }
}

TEST_F(FlashRequestEndToEnd, SkipFlashAndEveryFailureAreReportedOnce) {
    startFlashService();
    auto client = browser();
    const auto image = makeTestImage(kClassification);
    const std::string guide =
        " Please make sure the device is set up correctly and try again or email "
        "support@velko.com for personalized support.";
    struct Row {
        std::string label;
        std::function<void()> arrange;
        std::string more;  // further request fields
        std::vector<std::string> expected;
    };
    std::optional<BoardId> board;
    const std::vector<Row> rows{
        {"skip_flash",
         [&] { cloudRun(DeviceKind::NANO_33_BLE, image); },
         R"(, "skip_flash": true)",
         {flashReply("START"), flashReply("COMPLETE")}},
        {"no board kind",
         [&] { cloud->reply("GET", "/api/run/7/device_kind", ScriptedReply::text(404, "no run")); },
         "",
         {flashReply("START"),
          errorReply(
              R"(Failed to get device kind due to error APIError(statusCode: Optional(404), message: \"no run\"))")}},
        {"no library",
         [&] {
             cloudRun(DeviceKind::HALDEN_I3MICRO, image);
             cloud->reply("GET", "/api/run/7/result/lib-cnn.bin", ScriptedReply::text(404, "gone"));
         },
         "",
         {flashReply("START"),
          errorReply(
              R"(Failed to download device binary due to error APIError(statusCode: Optional(404), message: \"gone\"))")}},
        {"no board attached",
         [&] { cloudRun(DeviceKind::HALDEN_I3MICRO, image); },
         "",
         {flashReply("START"),
          errorReply(
              R"(Failed to flash device due to error flashFailed(message: \"Could not get device path\"))")}},
        {"an empty library",
         [&] {
             board = simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application);
             cloudRun(DeviceKind::NANO_33_BLE, {});
         },
         "",
         {flashReply("START"),
          errorReply(
              R"(Failed to flash device due to error flashFailed(message: \"The firmware image is empty or missing\"))")}},
        {"the tool fails",
         [&] {
             simulator->usb().unplug(*board);
             board = simulator->usb().plug(DeviceKind::HALDEN_I3MICRO, UsbBoardMode::application);
             cloudRun(DeviceKind::HALDEN_I3MICRO, image);
             simulator->tools().overrideReply("halden_i3micro_flasher", ToolReply{1, "Cannot open port\n"});
         },
         "",
         {flashReply("START"),
          errorReply(R"(Failed to flash device due to error flashFailed(message: \"    Failed to flash.)" +
                     guide + R"(\"))")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const auto requestsBefore = cloud->requests().size();
        row.arrange();
        ASSERT_TRUE(client.sendText(request("flashRequest", kRunId, "lib-cnn.bin", row.more)));
        EXPECT_EQ(flashReplies(client), row.expected) << service->log();
        if (row.label == "skip_flash") {
            EXPECT_EQ(cloud->requests().size(), requestsBefore + 1) << "only the board kind is read";
        }
    }
    // The board of the empty library was never forced into its bootloader.
    EXPECT_TRUE(simulator->usb().board(0)->entries.empty());
    EXPECT_TRUE(servicePrinted("Failed to flash.. Flasher response: Cannot open port"));
    // Nothing more arrives after the single ERROR of each row.
    EXPECT_FALSE(test_support::receiveContaining(client, R"("command":"flash")", 500ms));
}

TEST_F(FlashRequestEndToEnd, ABoardThatNeverAnswersOrNeverStopsTalkingIsNotConnectedAfterTheLimit) {
    startFlashService(false, 0.01);
    auto client = browser();
    const auto image = makeTestImage(kClassification);
    FirmwarePersonality silent;
    silent.fault = BoardFault::silence;
    for (const auto& firmware : {silent, kClassification}) {
        SCOPED_TRACE(firmware.kind == FirmwareKind::classification ? "chatters" : "silent");
        const auto board =
            simulator->usb().plug(DeviceKind::NANO_33_BLE, UsbBoardMode::application, firmware);
        simulator->usb().ignoreCommands(board);
        cloudRun(DeviceKind::NANO_33_BLE, image);
        ASSERT_TRUE(client.sendText(request("flashRequest")));
        EXPECT_EQ(
            flashReplies(client),
            (std::vector<std::string>{
                flashReply("START"),
                errorReply(
                    R"(Failed to flash device due to error flashFailed(message: \"Device not connected\"))")}));
        EXPECT_EQ(simulator->usb().board(board)->opens, 1U);
        simulator->usb().unplug(board);
    }
}

TEST_F(FlashRequestEndToEnd, TwoFlashesRunOneAfterTheOtherEachWithItsOwnImage) {
    startFlashService();
    const auto latency = personality(FirmwareKind::latency);
    const auto first = simulator->usb().plug(DeviceKind::HALDEN_I3MICRO, UsbBoardMode::application);
    const auto second = simulator->usb().plug(DeviceKind::HALDEN_FLAMENCO, UsbBoardMode::application);
    cloudRun(DeviceKind::HALDEN_I3MICRO, makeTestImage(kClassification, 200000), 7, "a.bin");
    cloudRun(DeviceKind::HALDEN_FLAMENCO, makeTestImage(latency, 300000), 8, "b.bin");
    simulator->tools().holdReplies(true);
    auto one = browser();
    auto two = browser();
    ASSERT_TRUE(one.sendText(request("flashRequest", 7, "a.bin")));
    ASSERT_TRUE(two.sendText(request("flashRequest", 8, "b.bin")));
    ASSERT_TRUE(simulator->tools().waitForArrivals(1, kReplyWait));
    // Both libraries are downloaded; the second waits for the first tool while it is held.
    ASSERT_TRUE(test_support::eventuallySees([&] { return service->output(); },
                                             [](const std::string& output) {
                                                 return test_support::occurrences(
                                                            output, "Writing library to disk...") == 2;
                                             },
                                             "both libraries on their way to disk", kReplyWait));
    simulator->tools().holdReplies(false);
    const auto done = [](test_support::WebSocketTestClient& client) {
        return flashReplies(client).back();
    };
    EXPECT_EQ(done(one), flashReply("COMPLETE"));
    EXPECT_EQ(done(two), flashReply("COMPLETE"));
    EXPECT_EQ(simulator->usb().board(first)->firmware, kClassification);
    EXPECT_EQ(simulator->usb().board(second)->firmware, latency);
    // Each tool found its own image whole in library.bin.
    const auto calls = simulator->tools().calls();
    ASSERT_EQ(calls.size(), 2U);
    std::multiset<std::string> written;
    for (const auto& call : calls) {
        written.insert(call.reply.output.substr(0, call.reply.output.find('\n')));
    }
    EXPECT_EQ(written,
              (std::multiset<std::string>{"Write 200000 bytes to flash", "Write 300000 bytes to flash"}));
}

TEST_F(FlashRequestEndToEnd, AHangingToolIsStoppedAndAClosedConnectionEndsItsTool) {
    startFlashService(false, 0.005);  // a tool limit of 1.5 s
    simulator->usb().plug(DeviceKind::HALDEN_I3MICRO, UsbBoardMode::application);
    cloudRun(DeviceKind::HALDEN_I3MICRO, makeTestImage(kClassification));
    // Held runs are answered with a failure, so the board stays where it is.
    simulator->tools().overrideReply("halden_i3micro_flasher", ToolReply{1, "held\n"});
    simulator->tools().holdReplies(true);
    {
        auto client = browser();
        ASSERT_TRUE(client.sendText(request("flashRequest")));
        const auto replies = flashReplies(client);
        EXPECT_EQ(
            replies.back().substr(0, 120),
            errorReply(R"(Failed to flash device due to error flashFailed(message: \"    Failed to flash.)")
                .substr(0, 120));
        EXPECT_TRUE(servicePrinted("HaldenFlasher still runs after 1500 ms; stopping it"));
    }
    simulator->tools().holdReplies(false);
    // A service whose limit (15 s) leaves no doubt about what ends the next run, however busy the machine.
    startFlashService(false, 0.05);
    simulator->tools().holdReplies(true);
    {
        auto client = browser();
        ASSERT_TRUE(client.sendText(request("flashRequest")));
        ASSERT_TRUE(simulator->tools().waitForArrivals(2, kReplyWait)) << service->output();
        client.close();
    }
    // The tool ends with the connection, long before its limit.
    const std::string failure = "Failed to flash device due to error";
    EXPECT_TRUE(test_support::eventuallyContains([&] { return service->output(); }, failure, kReplyWait));
    simulator->tools().holdReplies(false);
    const auto output = service->output();
    EXPECT_EQ(test_support::occurrences(output, failure), 1U) << output;
    EXPECT_EQ(test_support::occurrences(output, "still runs after"), 0U) << output;
}

TEST_F(FlashRequestEndToEnd, AWifiFlashSucceedsOnlyWhenTheBoardComesBackInTheRightMode) {
    startFlashService();
    auto client = browser();
    const auto collecting = personality(FirmwareKind::dataCollection);
    auto& board = simulator->addWifiBoard(6012, collecting);
    ASSERT_TRUE(board.waitUntil([](const WifiBoardSnapshot& state) { return state.connected; }, kReplyWait));
    ASSERT_TRUE(serviceKnowsTheWifiBoard()) << service->output();
    struct Row {
        std::string label;
        FirmwarePersonality library;
        std::string libname;
        std::string last;
    };
    const std::string reset = "Failed to flash device, please reset the device manually and try again.";
    const std::vector<Row> rows{
        {"classification library", kClassification, "lib-cnn.bin", flashReply("COMPLETE")},
        {"data collection library", collecting, "datacollection.bin", flashReply("COMPLETE")},
        {"wrong mode", collecting, "lib-cnn.bin", errorReply(reset)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const auto images = board.snapshot().imageSizes.size();
        const auto image = makeTestImage(row.library, 5000);
        cloudRun(DeviceKind::STWINKT1_WIFI, image, kRunId, row.libname);
        ASSERT_TRUE(client.sendText(request("flashWifiRequest", kRunId, row.libname)));
        const auto replies = flashReplies(client);
        EXPECT_EQ(replies.front(), flashReply("START"));
        EXPECT_EQ(replies.back(), row.last) << service->log();
        const auto seen = board.snapshot();
        ASSERT_EQ(seen.imageSizes.size(), images + 1);
        EXPECT_EQ(seen.imageSizes.back(), image.size());
    }
}

// Right after the transfer another host takes the board port before the board is back, so the board is
// turned away once; the wait lets the host go when it closes (by itself, or dropped by the service for
// bytes without a mode marker) and takes the board when it comes back in its new mode.
TEST_F(FlashRequestEndToEnd, AWifiFlashWaitsPastAHostThatHoldsTheBoardPortWithoutAMode) {
    startFlashService(false, 0.1);
    auto client = browser();
    const auto collecting = personality(FirmwareKind::dataCollection);
    auto& board = simulator->addWifiBoard(6012, collecting, WifiBoardOptions{.reconnectDelay = 300ms});
    ASSERT_TRUE(board.waitUntil([](const WifiBoardSnapshot& state) { return state.connected; }, kReplyWait));
    ASSERT_TRUE(serviceKnowsTheWifiBoard()) << service->output();
    struct Row {
        std::string label;
        FirmwarePersonality library;
        std::string libname;
        std::string squatterSends;  // empty: the host closes by itself
    };
    const std::vector<Row> rows{
        {"a host that closes", kClassification, "lib-cnn.bin", ""},
        {"a host dropped for bytes without a marker", collecting, "datacollection.bin",
         std::string(200, 'A')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const auto before = board.snapshot();
        cloudRun(DeviceKind::STWINKT1_WIFI, makeTestImage(row.library, 5000), kRunId, row.libname);
        ASSERT_TRUE(client.sendText(request("flashWifiRequest", kRunId, row.libname)));
        ASSERT_TRUE(board.waitUntil(
            [&](const WifiBoardSnapshot& state) {
                return state.imageSizes.size() == before.imageSizes.size() + 1 && !state.connected;
            },
            kReplyWait));
        auto squatter = WifiTestBoard::connect(6012);
        ASSERT_TRUE(squatter);
        ASSERT_TRUE(board.waitUntil(
            [&](const WifiBoardSnapshot& state) { return state.connections > before.connections; },
            kReplyWait))
            << "the board did not try to come back";
        if (row.squatterSends.empty()) {
            squatter->close();
        } else {
            ASSERT_TRUE(squatter->send(row.squatterSends));
            EXPECT_TRUE(squatter->waitForClose(kReplyWait));
        }
        EXPECT_EQ(flashReplies(client).back(), flashReply("COMPLETE")) << service->output();
    }
}

TEST_F(FlashRequestEndToEnd, AWifiBoardThatNeverComesBackIsAResetTimeout) {
    startFlashService(false, 0.01);
    auto client = browser();
    WifiBoardOptions once;
    once.reconnect = false;
    auto& board = simulator->addWifiBoard(6012, personality(FirmwareKind::dataCollection), once);
    ASSERT_TRUE(board.waitUntil([](const WifiBoardSnapshot& state) { return state.connected; }, kReplyWait));
    ASSERT_TRUE(serviceKnowsTheWifiBoard()) << service->output();
    cloudRun(DeviceKind::STWINKT1_WIFI, makeTestImage(kClassification, 5000));
    ASSERT_TRUE(client.sendText(request("flashWifiRequest")));
    EXPECT_EQ(
        flashReplies(client).back(),
        errorReply(
            "Failed to flash device due to reset timeout. Please manually reset the device and try again."))
        << service->output() << "the board saw: " << board.stateJson().dump();
    EXPECT_TRUE(servicePrinted("WIFI: failed to get wifi connection, ask user to manually reset device"));
    // Without a board at all the connection is not active.
    ASSERT_TRUE(client.sendText(request("flashWifiRequest")));
    EXPECT_EQ(flashReplies(client).back(), errorReply("Failed to flash device, connection is not active."));
}

}  // namespace
}  // namespace brisel::test

namespace brisel::test {
namespace {

TEST_F(FlashRequestEndToEnd, OpenOcdIsLookedForInOrderAndATranslatedMachineWantsManualDfuMode) {
    EXPECT_EQ(workflows::OpenOcd::path(), std::filesystem::path("/usr/local/bin/openocd"));
    std::filesystem::remove("/usr/local/bin/openocd");
    ASSERT_EQ(::mount("tmpfs", "/opt", "tmpfs", 0, nullptr), 0) << std::strerror(errno);
    std::filesystem::create_directories("/opt/homebrew/bin");
    std::filesystem::copy_file(BRISEL_FAKE_FLASH_TOOL, "/opt/homebrew/bin/openocd");
    const bool debianOpenOcd = std::filesystem::exists("/usr/bin/openocd");
    EXPECT_EQ(workflows::OpenOcd::path(),
              std::filesystem::path(debianOpenOcd ? "/usr/bin/openocd" : "/opt/homebrew/bin/openocd"));
    const auto image = folder.path() / "image.bin";
    const auto bytes = makeTestImage(kClassification);
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!debianOpenOcd) {
        std::filesystem::remove("/opt/homebrew/bin/openocd");
        EXPECT_EQ(workflows::OpenOcd::flash(image, DeviceKind::NICLA_SENSE_ME).error(),
                  workflows::FlasherError::flashFailed("OpenOcd not installed"));
    }

    std::vector<std::unique_ptr<test_support::ScopedEnvironment>> environment;
    for (const auto& [name, value] : simulator->environment()) {
        environment.push_back(std::make_unique<test_support::ScopedEnvironment>(name, value));
    }
    common::ScopedTranslatedProcessQuery translated([] { return std::int64_t{1}; });
    const auto board = simulator->usb().plug(DeviceKind::STWINKT1, UsbBoardMode::application);
    EXPECT_EQ(
        workflows::DfuUtil::flash(image, DeviceKind::STWINKT1).error(),
        workflows::FlasherError::flashFailed("Must manually set the device to DFU mode for M1 Macbook"));
    EXPECT_EQ(simulator->usb().board(board)->opens, 0U);
    ASSERT_EQ(simulator->tools().calls().size(), 1U);
    EXPECT_EQ(simulator->tools().calls()[0].arguments, std::vector<std::string>{"--list"});
}

// openocd reads the image path as one Tcl word in braces, whatever blanks and Tcl characters it holds;
// a path that braces cannot quote is refused before any tool runs.
TEST_F(FlashRequestEndToEnd, OpenOcdGetsTheImagePathInTclBracesOrRefusesAPathTheyCannotQuote) {
    std::vector<std::unique_ptr<test_support::ScopedEnvironment>> environment;
    for (const auto& [name, value] : simulator->environment()) {
        environment.push_back(std::make_unique<test_support::ScopedEnvironment>(name, value));
    }
    const auto board = simulator->usb().plug(DeviceKind::NICLA_SENSE_ME, UsbBoardMode::application);
    std::size_t flashes = 0;
    const auto bytes = makeTestImage(kClassification);
    test_support::LogCapture log;
    const std::vector<std::pair<std::string, bool>> rows{{"with blanks", true},  {"tcl $x [y]; z", true},
                                                         {"brace {b", false},    {"brace b}", false},
                                                         {"back\\slash", false}, {"line\nbreak", false}};
    for (const auto& [name, quotable] : rows) {
        SCOPED_TRACE(name);
        const auto image = folder.path() / name / "library.bin";
        std::filesystem::create_directories(image.parent_path());
        std::ofstream(image, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        // A flashed board restarts: the probe finds it once it is back.
        ASSERT_TRUE(simulator->usb().waitUntil(
            [&](const std::vector<UsbBoardSnapshot>& boards) {
                return boards.at(board).restarts == flashes && boards.at(board).devicePath.has_value();
            },
            kReplyWait));
        const std::size_t callsBefore = simulator->tools().calls().size();
        const auto flashed = workflows::OpenOcd::flash(image, DeviceKind::NICLA_SENSE_ME);
        if (quotable) {
            ASSERT_TRUE(flashed.has_value()) << flashed.error().message;
            EXPECT_EQ(simulator->usb().board(board)->imagesFlashed.back(), image.string());
            ++flashes;
            continue;
        }
        EXPECT_EQ(flashed.error().message.substr(0, 20), "    Failed to flash.");
        EXPECT_EQ(simulator->tools().calls().size(), callsBefore) << "the tool ran";
    }
    EXPECT_EQ(log.count("cannot be handed to openocd: its path holds a brace, a backslash or a line break. "
                        "Point TMPDIR at a folder whose path holds none of them and flash again."),
              4U);
}

}  // namespace
}  // namespace brisel::test
