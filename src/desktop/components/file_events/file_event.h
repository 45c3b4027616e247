// One event of the file-event stream and its identifier.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "desktop/components/file_events/file_event_flags.h"

namespace brisel::desktop::components {

// Identifier of an event. Identifiers grow with every event the process receives.
struct OrvikFSEventsEventID {
    std::uint64_t rawValue = 0;

    // Start a stream with the events from now on (all bits set).
    static constexpr OrvikFSEventsEventID sinceNow() { return {0xFFFFFFFFFFFFFFFFULL}; }
    // The identifier of the latest event any stream of this process received (0 before the first).
    // Any thread.
    static OrvikFSEventsEventID current();

    friend constexpr bool operator==(OrvikFSEventsEventID, OrvikFSEventsEventID) = default;
};

// One event: the path it is about, its flags and its identifier (the stream fills all three).
struct OrvikFSEventsEvent {
    std::string path;
    std::optional<OrvikFSEventsEventFlags> flag;
    std::optional<OrvikFSEventsEventID> ID;  // NOLINT(readability-identifier-naming): the interface's name
};

}  // namespace brisel::desktop::components
