// The recordings that run in this process, so that a service that is told to stop keeps what they
// recorded for a collection sync.
#pragma once

#include <mutex>
#include <set>

namespace brisel::workflows {

class Recording;

// All members may be called from any thread.
class RunningRecordings {
  public:
    // The one registry of the service.
    static RunningRecordings& shared();

    // `recording` runs until remove(). After keepForExit() it is kept at once.
    void add(Recording& recording);
    // `recording` ends; waits while keepForExit() works on it.
    void remove(Recording& recording);

    // Keeps what every running recording recorded (Recording::keepForExit), and does the same for a
    // recording that begins later. Returns once their files are on the disk.
    void keepForExit();

  private:
    std::mutex mutex;
    std::set<Recording*> recordings;  // guarded by mutex
    bool exiting = false;             // guarded by mutex
};

// RunningRecordings::shared().keepForExit(): for the service's termination path.
void keepRecordingsForExit();

}  // namespace brisel::workflows
