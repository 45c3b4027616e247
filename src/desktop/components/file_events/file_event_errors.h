// What the file-event stream reports when it fails: the error of creation and start, and the reports
// of callback states that cannot happen (sent to one replaceable, process-wide report handler).
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace brisel::desktop::components {

enum class OrvikFSEventsErrorCode { cannotCreateStream, cannotStartStream };

// The error of OrvikFSEventStream::create and start and of OrvikFSEvents::addWatcher. `message`
// holds the system's reason where there is one (such as the limit of watches being reached).
struct OrvikFSEventsError {
    OrvikFSEventsErrorCode code;
    std::optional<std::string> message;

    // "The file-event stream cannot be created" or "... started", then ": " and the message if any.
    std::string description() const;
};

enum class OrvikFSEventsCriticalErrorCode {
    missingContextRawPointerValue,
    unexpectedPathValueType,
    unmatchedEventParameterCounts,
};

// A report of an impossible state of the event callback; the batch it concerns is dropped.
struct OrvikFSEventsIllogicalErrorLog {
    OrvikFSEventsCriticalErrorCode code;
    std::optional<std::string> message;
};

using OrvikFSEventsIllogicalErrorHandler = std::function<void(const OrvikFSEventsIllogicalErrorLog&)>;

// Replaces the process-wide report handler (an empty function: reports are dropped, the default).
// Main thread, like the deliveries that report.
void setOrvikFSEventsIllogicalErrorHandler(OrvikFSEventsIllogicalErrorHandler handler);

// Hands `report` to the current report handler. Main thread.
void reportOrvikFSEventsIllogicalError(const OrvikFSEventsIllogicalErrorLog& report);

}  // namespace brisel::desktop::components
