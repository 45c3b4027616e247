// The log lines of the websocket thread: held while it serves messages and handed to the log's
// outputs after the replies have left, so that between reading a message and writing its reply the
// websocket thread wakes no other thread for logging.
#pragma once

#include <chrono>
#include <memory>

#include "common/logger.h"

struct lws_context;

namespace brisel::frame {

// Held lines wait at most this long for the replies of their pass to be written.
inline constexpr std::chrono::milliseconds kHeldLogLinesWait{5};

// Websocket thread only: created, used and destroyed there.
class ServiceThreadLog {
  public:
    // From now on the lines that the calling thread logs through the global logger are held (see
    // common::HeldLogLines). `context` is the library context that the thread services; it must
    // outlive this object.
    explicit ServiceThreadLog(lws_context* context);
    // Hands over what is held and ends the hold; cancels the library timer.
    ~ServiceThreadLog();
    ServiceThreadLog(const ServiceThreadLog&) = delete;
    ServiceThreadLog& operator=(const ServiceThreadLog&) = delete;

    // After each pass of the library's service call. `repliesQueued`: frames were queued on this
    // thread during the pass, which leave at a later pass. Hands the held lines over unless such a
    // reply waits; then they wait for a later pass, and at most kHeldLogLinesWait, on a library timer
    // that is armed only while lines wait (an idle service wakes for nothing).
    void passEnded(bool repliesQueued);

  private:
    struct ReleaseTimer;

    // Hands the held lines over and disarms the timer.
    void release();

    common::HeldLogLines held;
    lws_context* const context;
    std::unique_ptr<ReleaseTimer> timer;
    bool timerArmed = false;
};

}  // namespace brisel::frame
