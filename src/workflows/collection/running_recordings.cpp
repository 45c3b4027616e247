#include "workflows/collection/running_recordings.h"

#include "workflows/collection/recording.h"

namespace brisel::workflows {

RunningRecordings& RunningRecordings::shared() {
    static RunningRecordings registry;
    return registry;
}

void RunningRecordings::add(Recording& recording) {
    std::lock_guard lock(mutex);
    recordings.insert(&recording);
    if (exiting) {
        recording.keepForExit();
    }
}

void RunningRecordings::remove(Recording& recording) {
    std::lock_guard lock(mutex);
    recordings.erase(&recording);
}

void RunningRecordings::keepForExit() {
    std::lock_guard lock(mutex);
    exiting = true;
    for (Recording* recording : recordings) {
        recording->keepForExit();
    }
}

void keepRecordingsForExit() {
    RunningRecordings::shared().keepForExit();
}

}  // namespace brisel::workflows
