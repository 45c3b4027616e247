#include "frame/service_thread_log.h"

#include <libwebsockets.h>

namespace brisel::frame {

// The library's timer record first, so that the record the library hands back leads to its owner.
struct ServiceThreadLog::ReleaseTimer {
    lws_sorted_usec_list_t record{};
    ServiceThreadLog* owner = nullptr;

    static void fired(lws_sorted_usec_list_t* record) {
        auto* timer = reinterpret_cast<ReleaseTimer*>(record);
        timer->owner->timerArmed = false;
        timer->owner->release();
    }
};

ServiceThreadLog::ServiceThreadLog(lws_context* serviced)
    : held(common::logger()), context(serviced), timer(std::make_unique<ReleaseTimer>()) {
    timer->owner = this;
}

ServiceThreadLog::~ServiceThreadLog() {
    release();
}

void ServiceThreadLog::passEnded(bool repliesQueued) {
    if (!held.holdsLines()) {
        return;
    }
    if (!repliesQueued) {
        release();
        return;
    }
    if (!timerArmed) {
        timerArmed = true;
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(kHeldLogLinesWait);
        lws_sul_schedule(context, 0, &timer->record, ReleaseTimer::fired,
                         static_cast<lws_usec_t>(wait.count()));
    }
}

void ServiceThreadLog::release() {
    if (timerArmed) {
        lws_sul_cancel(&timer->record);
        timerArmed = false;
    }
    held.release();
}

}  // namespace brisel::frame
