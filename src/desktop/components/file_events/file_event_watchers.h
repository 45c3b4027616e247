// The process-wide table of file-event watchers: one stream per watch key, created, scheduled on the
// main thread's event loop and started by addWatcher.
#pragma once

#include <string>
#include <vector>

#include <tl/expected.hpp>

#include "desktop/components/file_events/file_event_errors.h"
#include "desktop/components/file_events/file_event_stream.h"

namespace brisel::desktop::components {

class OrvikFSEvents {
  public:
    // The flags of a watcher's stream: noDefer and fileEvents (the stream adds useCFTypes).
    static constexpr OrvikFSEventsCreateFlags kWatcherFlags =
        OrvikFSEventsCreateFlags::noDefer | OrvikFSEventsCreateFlags::fileEvents;

    // Watches `paths` from now on, with latency 0 and kWatcherFlags, delivering to `handler` on the
    // main thread, and enters the stream under `key`. A stream already under the key is stopped,
    // invalidated and replaced (it would otherwise go on watching for nobody). Errors:
    // cannotCreateStream, cannotStartStream; nothing is registered then. Main thread.
    static tl::expected<void, OrvikFSEventsError> addWatcher(std::vector<std::string> paths, const void* key,
                                                             OrvikFSEventHandler handler);

    // Stops, invalidates and forgets the stream under `key`; nothing when there is none. Safe from
    // within that stream's handler. Main thread.
    static void removeWatcher(const void* key);

    // The stream under `key`, or null (tests and diagnostics). Main thread.
    static const OrvikFSEventStream* watcher(const void* key);
};

}  // namespace brisel::desktop::components
