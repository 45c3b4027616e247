// One file-event stream over inotify: follows files by name and hands their events, in batches, to a
// handler on the thread whose Qt event loop the stream is scheduled on (the main thread in the tray
// application).
//
// Following by name: the stream watches the folder that holds each path, so it keeps delivering when
// the file is replaced (renamed over), deleted and created again. While the folder does not exist it
// watches the nearest existing ancestor and moves down as the missing folders appear; a file found on
// arrival in its folder is reported as created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <tl/expected.hpp>

#include "desktop/components/file_events/file_event.h"
#include "desktop/components/file_events/file_event_errors.h"
#include "desktop/components/file_events/file_event_flags.h"

namespace brisel::desktop::components {

using OrvikFSEventHandler = std::function<void(const OrvikFSEventsEvent&)>;

// A path as the system reported it: text, or bytes that are not valid UTF-8 (Linux file names are
// bytes), which the stream cannot hand on as a path.
struct UndecodablePath {
    std::string bytes;
};
using ReportedPath = std::variant<std::string, UndecodablePath>;

// One batch of events as the system reports it: `eventCount` events, their paths, flags and
// identifiers (flags and identifiers hold at least `eventCount` values).
struct OrvikFSEventBatch {
    std::size_t eventCount = 0;
    std::vector<ReportedPath> paths;
    std::vector<std::uint32_t> flags;
    std::vector<std::uint64_t> ids;
};

class OrvikFSEventStream {
  public:
    // A stream for `paths` (absolute; relative ones are taken from the working folder), not yet
    // scheduled or started. `since`: only sinceNow() has a meaning here, inotify has no history; any
    // other value also starts from now. `latency`: seconds to gather events before a batch is handed
    // on (0: at once). useCFTypes is always added to `flags`. Without fileEvents an event names the
    // folder of the file instead of the file. watchRoot, ignoreSelf and markSelf have no effect on
    // Linux. Errors: cannotCreateStream (no paths, or the system gives no inotify instance).
    static tl::expected<std::unique_ptr<OrvikFSEventStream>, OrvikFSEventsError> create(
        std::vector<std::string> paths, OrvikFSEventsEventID since, double latency,
        OrvikFSEventsCreateFlags flags, OrvikFSEventHandler handler);

    // Stops and invalidates the stream. Safe from within its own handler.
    ~OrvikFSEventStream();
    OrvikFSEventStream(const OrvikFSEventStream&) = delete;
    OrvikFSEventStream& operator=(const OrvikFSEventStream&) = delete;

    // The flags as the stream uses them (the creation flags plus useCFTypes).
    OrvikFSEventsCreateFlags creationFlags() const;
    // The identifier of the latest event this stream delivered; the start identifier before that.
    OrvikFSEventsEventID latestEventId() const;
    // The paths of the stream, absolute.
    std::vector<std::string> pathsBeingWatched() const;

    // Deliveries go to the event loop of the calling thread (the stream's "queue") / to none.
    void scheduleOnCurrentThread();
    void unschedule();

    // Starts watching. Errors: cannotStartStream when the stream is not scheduled, was invalidated,
    // or the system refuses a watch (no permission, the limit of watches reached).
    tl::expected<void, OrvikFSEventsError> start();
    // Hands on what the system has reported so far: at the next turn of the event loop / at once.
    void flushAsync();
    void flushSync();
    // Stops watching; start() may follow.
    void stop();
    // Stops and unschedules for good; start() fails afterwards.
    void invalidate();
    // Events under these paths are not delivered. At most 8 paths; answers false (and changes
    // nothing) for more.
    bool setExclusionPaths(std::vector<std::string> paths);
    // A readable summary: paths, flags, latency, latest identifier, state.
    std::string description() const;

    // The system's callback: hands a batch to the stream `context` points at. Impossible states go
    // to the illogical-error report handler and drop the batch: no context
    // (missingContextRawPointerValue), a path that is not text (unexpectedPathValueType), as many
    // paths as events not matching (unmatchedEventParameterCounts). Otherwise calls the handler once
    // per event, in order. Thread of the stream's event loop.
    static void deliverBatch(void* context, const OrvikFSEventBatch& batch);

  private:
    struct Watch;
    OrvikFSEventStream(std::vector<std::string> paths, OrvikFSEventsEventID since, double latency,
                       OrvikFSEventsCreateFlags flags, OrvikFSEventHandler handler);

    std::unique_ptr<Watch> rawref;  // the inotify instance and its watches
    OrvikFSEventHandler handler;
};

}  // namespace brisel::desktop::components
