// The interface of a request controller.
#pragma once

namespace brisel::frame {

// A controller serves one decoded request on one connection. The route table creates it with the
// connection and the request, calls `respond()` once on the websocket thread and then lets go of it;
// work that outlives the call keeps the controller (or what it needs) alive itself and reports through
// the connection from any thread.
class BriselAction {
  public:
    virtual ~BriselAction() = default;
    // Serves the request: every outcome, failures included, becomes replies on the connection and
    // log lines. Must not throw and must not block the websocket thread for long.
    virtual void respond() = 0;

  protected:
    BriselAction() = default;
    BriselAction(const BriselAction&) = default;
    BriselAction& operator=(const BriselAction&) = default;
};

}  // namespace brisel::frame
