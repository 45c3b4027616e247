// The controllers of live classification: start over serial, start over WiFi, and stop (both).
#pragma once

#include <memory>

#include "frame/brisel_action.h"
#include "frame/requests.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// "liveClassificationStartRequest".
class LiveClassificationStartRequestController : public frame::BriselAction {
  public:
    LiveClassificationStartRequestController(std::shared_ptr<frame::WebSocket> ws,
                                             frame::LiveClassificationStartRequest data);
    // Websocket thread, returns at once: makes the request's cloud the one in force and starts
    // Classify::classify with "run_id", "model_id", "threshold_value" (0.5 when absent) and
    // "latency_exists".
    void respond() override;

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::LiveClassificationStartRequest liveClassificationStartRequest;
};

// "liveClassificationStopRequest".
class LiveClassificationStopRequestController : public frame::BriselAction {
  public:
    LiveClassificationStopRequestController(std::shared_ptr<frame::WebSocket> ws,
                                            frame::LiveClassificationStopRequest data);
    // Websocket thread: sets the stop flags of serial and WiFi live classification; no reply (each run
    // answers its own last reply).
    void respond() override;

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::LiveClassificationStopRequest liveClassificationStopRequest;
};

// "liveClassificationWifiStartRequest".
class LiveClassificationWifiStartRequestController : public frame::BriselAction {
  public:
    LiveClassificationWifiStartRequestController(std::shared_ptr<frame::WebSocket> ws,
                                                 frame::LiveClassificationWifiStartRequest data);
    // Websocket thread, returns at once: makes the request's cloud the one in force; a WiFi board
    // connected in another mode than classification is refused with a "classify_wifi" ERROR and no
    // cloud call; otherwise starts ClassifyWifi::classify with "run_id".
    void respond() override;

  private:
    std::shared_ptr<frame::WebSocket> ws;
    frame::LiveClassificationWifiStartRequest liveClassificationWifiStartRequest;
};

}  // namespace brisel::workflows
