// The threads of the device workflows.
//
// A controller's `respond()` runs on the websocket thread and must return at once. The work that
// outlives it (REST calls it waits for, board reads, tool runs, recordings) runs on a thread of its
// own, started here, that holds everything it needs. Workflows block for minutes, so they never take
// a thread of a fixed pool.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brisel::workflows {

// Owns the workflow threads of the process: each runs one workflow to its end and is joined by the
// next start, by `waitUntilIdle` or by the destructor. All members may be called from any thread
// except that a workflow must not wait for itself to end.
class WorkflowThreads {
  public:
    // The one instance of the service; it lives until the process ends.
    static WorkflowThreads& shared();

    WorkflowThreads() = default;
    // Waits for every workflow still running, then joins its thread.
    ~WorkflowThreads();
    WorkflowThreads(const WorkflowThreads&) = delete;
    WorkflowThreads& operator=(const WorkflowThreads&) = delete;

    // Runs `work` on a new thread named after `label` (the thread name is cut to 15 bytes, and
    // currentQueueLabel() reports the whole label inside it). An exception that escapes `work` is
    // logged at critical and the thread ends. When no thread can be started, the failure is logged
    // and `work` runs on the calling thread, so a workflow is never lost.
    void start(std::string label, std::function<void()> work);

    // How many workflows are running now.
    std::size_t running() const;

    // Waits at most `limit` until no workflow runs; true when none does. Joins finished threads.
    bool waitUntilIdle(std::chrono::milliseconds limit);

  private:
    struct Entry {
        std::thread thread;
        bool finished = false;
    };

    void finished(std::thread::id id);
    // Under `lock`: takes the threads of finished workflows, to be joined outside the lock.
    std::vector<std::thread> takeFinished();

    mutable std::mutex lock;
    std::condition_variable changed;
    std::vector<Entry> entries;    // guarded by lock
    std::size_t runningCount = 0;  // guarded by lock
};

// WorkflowThreads::shared().start(label, work).
void runWorkflow(std::string label, std::function<void()> work);

}  // namespace brisel::workflows
