// The latency measurement: "measure_latency" flashes a model's library onto a USB board, reads the
// latency lines that the firmware prints and reports their mean to the cloud and the browser.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "cloud/build_records.h"
#include "common/device_kind.h"
#include "frame/brisel_action.h"
#include "frame/feature_replies.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// The controller of "measure_latency". Every reply is a "latency" payload on `ws`.
class MeasureLatencyRequestController : public frame::BriselAction,
                                        public std::enable_shared_from_this<MeasureLatencyRequestController> {
  public:
    // The values the measurement waits for, and its bounds (all waits scaled by the time scale).
    static constexpr std::size_t kWantedValues = 10;
    static constexpr std::chrono::milliseconds kReadingLimit{30'000};
    static constexpr std::chrono::milliseconds kPauseAfterFailedRead{500};
    static constexpr std::chrono::milliseconds kSettleAfterFlash{5'000};

    MeasureLatencyRequestController(std::shared_ptr<frame::WebSocket> ws,
                                    frame::MeasureLatencyRequest request);

    // Websocket thread: takes the request's cloud, refuses a translated process ("ERROR" naming the
    // run, no REST call), sends "INFO" "Connecting to REST API..." and runs the rest on a workflow
    // thread: board kind, board check, build, model and library lookup, download, flash, 5 s settle,
    // reading, report. Every failure ends it with one "ERROR" reply ("WARNING" for a build without
    // library); success goes on in updateLatency. When the workflows that run at once are at their
    // bound, the one reply is "ERROR" with the busy message and the cloud in force stays.
    void respond() override;

    // Logs the machine kind; on APPLE_M1 sends the refusal and returns false. Any thread.
    bool allowCPU() const;

    // True when a port of `deviceKind` shows with its own ids or, for a kind that has them, with its
    // bootloader ids. Blocks for the scaled HALDEN_FLAMENCO settle wait when that port is found.
    static bool isDeviceConnected(common::DeviceKind deviceKind);

    // The first model of the build whose id is `modelId`; none when no model matches.
    static std::optional<cloud::Model> getModelFromBuild(const cloud::BuildResponse& buildResponse,
                                                         std::int64_t modelId);

    // The key of the model's library: none unless the build's status is DONE or SUCCESS; otherwise the
    // key of the first result, in order, that contains the model kind's slug followed by "-" and
    // contains ".bin" (plain substring tests: "rf-" is also found in a key holding "orf-").
    static std::optional<std::string> getModelLibraryKeyFromBuild(const cloud::BuildResponse& buildResponse,
                                                                  const cloud::Model& model);

    // Reads the board's latency lines on its normal port until 10 values are held or the scaled 30 s
    // have passed; every read waits at most the time left, so a silent board cannot hold it longer. A
    // line that reaches the port in several reads counts once it is whole.
    // The mean of the values after the first (truncated); none with fewer than two values, when the
    // port is missing (then "ERROR" "Device not connected" is sent) or does not open, and when their
    // sum does not fit 64 bits. Workflow thread.
    std::optional<std::int64_t> measureLatency(common::DeviceKind deviceKind) const;

    // Reports one measured latency: PATCHes the model with {"latency": averageLatency}; when that
    // succeeds, sends "SUCCESS" "Latency measured" and PATCHes the run with status "SUCCESS"; then
    // (after the model's failure, or once the "SUCCESS" update has ended either way) PATCHes the run
    // with status "DONE" and sends "DONE" "Latency measured:<runId>". Each failed PATCH is logged and
    // answered by one "ERROR" latency reply. The final update waits for the "SUCCESS" one, so that a
    // late retry of that call can never leave the run "SUCCESS". Returns at once; the calls and
    // replies follow on REST threads. Any thread.
    static void updateLatency(std::int64_t runId, std::int64_t modelId, std::int64_t averageLatency,
                              const std::shared_ptr<frame::WebSocket>& ws);

  private:
    // The workflow thread's part of respond().
    void measure() const;
    // Downloads the library under `key` to library.bin in the temporary folder and flashes it onto the
    // board; false after reporting the failure.
    bool downloadAndFlash(std::int64_t runId, const std::string& key, common::DeviceKind deviceKind) const;
    void send(frame::BriselLatencyResponseStatus status, std::string message) const;

    std::shared_ptr<frame::WebSocket> ws;
    frame::MeasureLatencyRequest measureLatencyRequest;
};

// The controller of "measure_latency_wifi": logs "Measure latency wifi request received" and answers
// the one "ERROR" "Latency calculation currently not supported for wifi projects.:<run_id>".
class MeasureLatencyWifiRequestController : public frame::BriselAction {
  public:
    MeasureLatencyWifiRequestController(std::shared_ptr<frame::WebSocket> ws,
                                        frame::MeasureLatencyWifiRequest request);
    void respond() override;

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::MeasureLatencyWifiRequest measureLatencyWifiRequest;
};

// The integer mean of the latency values after the first (the first one, taken while the board
// settles, is left out), truncated toward zero; none with fewer than two values or when their sum
// does not fit a signed 64-bit integer. Pure.
std::optional<std::int64_t> meanLatencyAfterFirst(std::span<const std::int64_t> values);

// Sends the latency reply `status` with `message` on `ws`, inside the desktopClientResponse envelope.
// Any thread.
void sendLatencyReply(frame::WebSocket& ws, frame::BriselLatencyResponseStatus status, std::string message);

}  // namespace brisel::workflows
