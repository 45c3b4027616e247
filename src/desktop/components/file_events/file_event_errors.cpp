#include "desktop/components/file_events/file_event_errors.h"

#include <utility>

namespace brisel::desktop::components {

namespace {

OrvikFSEventsIllogicalErrorHandler& reportHandler() {
    static OrvikFSEventsIllogicalErrorHandler handler;
    return handler;
}

}  // namespace

std::string OrvikFSEventsError::description() const {
    std::string text = code == OrvikFSEventsErrorCode::cannotCreateStream
                           ? "The file-event stream cannot be created"
                           : "The file-event stream cannot be started";
    if (message) {
        text += ": " + *message;
    }
    return text;
}

void setOrvikFSEventsIllogicalErrorHandler(OrvikFSEventsIllogicalErrorHandler handler) {
    reportHandler() = std::move(handler);
}

void reportOrvikFSEventsIllogicalError(const OrvikFSEventsIllogicalErrorLog& report) {
    // A copy: the handler may replace itself.
    const OrvikFSEventsIllogicalErrorHandler handler = reportHandler();
    if (handler) {
        handler(report);
    }
}

}  // namespace brisel::desktop::components
